// SPDX-License-Identifier: ISC
#include "launch.h"

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process.h"

extern char **environ;

/* How often a wait for processor time looks at the child's clock. */
constexpr double cpu_poll_seconds = 0.005;

/* The number after "name:" in /proc/PID/file, or -1. */
static long long
proc_field(pid_t pid, const char *file, const std::string &name)
{
	const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
	const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	const std::string text = "\n" + fd_contents(fd);
	close(fd);
	const std::size_t at = text.find("\n" + name + ":");
	return at == std::string::npos ? -1 : std::atoll(&text[at + name.size() + 2]);
}

/* Pointers to the strings, then to those of more, ending in a null pointer. */
static std::vector<char *>
pointers(Args &strings, char **more)
{
	std::vector<char *> list;
	for (std::string &s : strings)
		list.push_back(s.data());
	while (more != nullptr && *more != nullptr)
		list.push_back(*more++);
	list.push_back(nullptr);
	return list;
}

std::string
describe(const Args &args)
{
	std::string text = "cpuspend";
	return describe(text, args);
}

std::string
describe(std::string text, const Args &args)
{
	for (const std::string &arg : args)
		text += " '" + arg + "'";
	return text;
}

/*
 * SIGCHLD stays blocked in the launcher from the first fork on, so that
 * sigtimedwait sleeps until a child exits or the time passes, with no
 * wake-up lost in between; the child gets the old mask back.
 */
Child::Child(const Args &args, const Launch &launch)
    : command_(describe(launch.program.empty() ? "cpuspend" : launch.program, args) +
          (launch.empty_argv ? " (empty argv)" : "")),
      deadline_(monotonic_seconds() + launch.wall_limit),
      out_fd_(memfd_create("stdout", MFD_CLOEXEC)),
      err_fd_(memfd_create("stderr", MFD_CLOEXEC))
{
	/* The program built beside the tests, or another build of it, such as a static one. */
	const char *program = std::getenv("CPUSPEND_UNDER_TEST");
	if (program == nullptr || *program == '\0')
		program = CPUSPEND_BINARY;
	if (!launch.program.empty())
		program = launch.program.c_str();
	Args argv_strings;
	if (!launch.empty_argv) {
		argv_strings = args;
		argv_strings.insert(argv_strings.begin(), program);
	}
	Args env_strings = launch.env;
	const std::vector<char *> argv = pointers(argv_strings, nullptr);
	const std::vector<char *> envp = pointers(env_strings, environ);
	const int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
	if (out_fd_ < 0 || err_fd_ < 0 || in_fd < 0)
		throw std::runtime_error("cannot open the child's standard streams");

	sigset_t blocked, previous;
	sigemptyset(&blocked);
	sigaddset(&blocked, SIGCHLD);
	sigprocmask(SIG_BLOCK, &blocked, &previous);
	pid_ = spawn({program, argv.data(), envp.data(), in_fd, out_fd_, err_fd_, &previous, false});
	close(in_fd);
	if (pid_ < 0)
		throw std::runtime_error("fork failed");
}

Child::~Child()
{
	if (pid_ > 0 && !reaped_) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
	}
	close(out_fd_);
	close(err_fd_);
}

double
Child::cpu_seconds() const
{
	clockid_t id;
	return clock_getcpuclockid(pid_, &id) == 0 ? clock_seconds(id) : -1;
}

long
Child::peak_memory_kib() const
{
	return static_cast<long>(proc_field(pid_, "status", "VmHWM"));
}

/*
 * The one wait, which leaves an exited child unreaped.  Processor time
 * sends no signal, so a wait for it also wakes every few milliseconds.
 */
bool
Child::wait_for_cpu(double seconds)
{
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, SIGCHLD);
	for (;;) {
		siginfo_t info{};
		if (waitid(P_PID, static_cast<id_t>(pid_), &info,
		    WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
			return false;
		if (seconds >= 0 && cpu_seconds() >= seconds)
			return true;
		double left = deadline_ - monotonic_seconds();
		if (left <= 0) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
			reaped_ = true;
			throw std::runtime_error(command_ + ": still running after its "
			    "wall-clock limit, so it was killed");
		}
		if (seconds >= 0 && left > cpu_poll_seconds)
			left = cpu_poll_seconds;
		take_signal(set, left);
	}
}

Outcome
Child::wait()
{
	wait_for_cpu(-1);
	Outcome outcome;
	/* The write accounting is complete once the child is a zombie. */
	outcome.bytes_written = proc_field(pid_, "io", "wchar");
	outcome.write_calls = proc_field(pid_, "io", "syscw");

	int status = 0;
	rusage usage{};
	reaped_ = true;
	if (wait4(pid_, &status, 0, &usage) != pid_)
		throw std::runtime_error("wait4 failed");
	outcome.pid = pid_;
	outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
	outcome.out = fd_contents(out_fd_);
	outcome.err = fd_contents(err_fd_);
	outcome.cpu_seconds = ::cpu_seconds(usage);
	return outcome;
}

Outcome
run_cpuspend(const Args &args, const Launch &launch)
{
	return Child(args, launch).wait();
}

double
lines_written(const Outcome &run)
{
	const auto bytes = run.bytes_written -
	    static_cast<long long>(run.out.size() + run.err.size());
	return static_cast<double>(bytes) / 1001;
}
