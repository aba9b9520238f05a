// SPDX-License-Identifier: ISC
#include "launch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static int
memory_file(const char *name)
{
	const int fd = memfd_create(name, MFD_CLOEXEC);
	if (fd < 0)
		throw std::runtime_error("memfd_create failed");
	return fd;
}

static std::string
contents(int fd)
{
	std::string data;
	char buffer[4096];
	lseek(fd, 0, SEEK_SET);
	ssize_t n;
	while ((n = read(fd, buffer, sizeof buffer)) > 0)
		data.append(buffer, static_cast<std::size_t>(n));
	return data;
}

static double
seconds(const timeval &tv)
{
	return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

static double
seconds(const timespec &ts)
{
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

static double
monotonic_now()
{
	timespec ts{};
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return seconds(ts);
}

/* Reads the first "name: number" line of /proc/PID/file, or -1. */
static long long
proc_field(pid_t pid, const char *file, const char *name)
{
	char path[64];
	std::snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(pid), file);
	std::FILE *in = std::fopen(path, "r");
	if (in == nullptr)
		return -1;
	long long value = -1;
	const std::size_t length = std::strlen(name);
	char line[256];
	while (std::fgets(line, sizeof line, in) != nullptr) {
		if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
			std::sscanf(line + length + 1, "%lld", &value);
			break;
		}
	}
	std::fclose(in);
	return value;
}

/* The write accounting is complete once the child is a zombie or at its exit stop. */
static void
read_io(pid_t pid, Outcome &outcome)
{
	outcome.bytes_written = proc_field(pid, "io", "wchar");
	outcome.write_calls = proc_field(pid, "io", "syscw");
}

/*
 * SIGCHLD stays blocked in the launcher so that sigtimedwait can sleep until
 * a child changes state or the limit passes, with no wake-up lost between
 * looking and sleeping.
 */
static sigset_t
child_signals()
{
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, SIGCHLD);
	return set;
}

std::string
describe(const Args &args)
{
	std::string text = "cpuspend";
	for (const std::string &arg : args)
		text += " '" + arg + "'";
	return text;
}

Child::Child(const Args &args, const Launch &launch)
    : command_(describe(args) + (launch.empty_argv ? " (empty argv)" : "")),
      traced_(launch.measure_memory),
      deadline_(monotonic_now() + launch.wall_limit)
{
	/* Everything the child needs is built before the fork. */
	std::string program = CPUSPEND_BINARY;
	Args arg_copies(args);
	std::vector<char *> argv;
	if (!launch.empty_argv) {
		argv.push_back(program.data());
		for (std::string &arg : arg_copies)
			argv.push_back(arg.data());
	}
	argv.push_back(nullptr);

	std::vector<std::string> env_copies(launch.env);
	std::vector<char *> envp;
	for (std::string &var : env_copies)
		envp.push_back(var.data());
	for (char **var = environ; *var != nullptr; var++)
		envp.push_back(*var);
	envp.push_back(nullptr);

	out_fd_ = memory_file("stdout");
	err_fd_ = memory_file("stderr");
	const int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
	if (in_fd < 0)
		throw std::runtime_error("cannot open /dev/null");

	const sigset_t blocked = child_signals();
	sigset_t previous;
	sigprocmask(SIG_BLOCK, &blocked, &previous);
	pid_ = fork();
	if (pid_ < 0)
		throw std::runtime_error("fork failed");
	if (pid_ == 0) {
		sigprocmask(SIG_SETMASK, &previous, nullptr);
		if (dup2(in_fd, 0) < 0 || dup2(out_fd_, 1) < 0 || dup2(err_fd_, 2) < 0)
			_exit(126);
		if (traced_ && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) < 0)
			_exit(126);
		execve(program.c_str(), argv.data(), envp.data());
		_exit(127);
	}
	close(in_fd);
}

Child::~Child()
{
	if (pid_ > 0 && !reaped_) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
	}
	if (out_fd_ >= 0)
		close(out_fd_);
	if (err_fd_ >= 0)
		close(err_fd_);
}

double
Child::cpu_seconds() const
{
	clockid_t id;
	timespec ts{};
	if (clock_getcpuclockid(pid_, &id) != 0 || clock_gettime(id, &ts) != 0)
		return -1;
	return seconds(ts);
}

bool
Child::wait_for_cpu(double seconds) const
{
	constexpr useconds_t poll_interval = 5000;
	while (monotonic_now() < deadline_) {
		if (cpu_seconds() >= seconds)
			return true;
		siginfo_t info{};
		if (waitid(P_PID, static_cast<id_t>(pid_), &info,
		    WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
			return false;
		usleep(poll_interval);
	}
	return false;
}

void
Child::signal(int sig) const
{
	kill(pid_, sig);
}

/*
 * Waits, without reaping, until the child has a state change of the kinds
 * in flags to report, and returns false once the wall-clock limit passes.
 */
bool
Child::await(int flags, siginfo_t &info) const
{
	const sigset_t set = child_signals();
	for (;;) {
		info = {};
		if (waitid(P_PID, static_cast<id_t>(pid_), &info,
		    flags | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
			return true;
		const double left = deadline_ - monotonic_now();
		if (left <= 0)
			return false;
		timespec timeout{};
		timeout.tv_sec = static_cast<time_t>(left);
		timeout.tv_nsec = static_cast<long>((left - static_cast<double>(timeout.tv_sec)) * 1e9);
		sigtimedwait(&set, nullptr, &timeout);
	}
}

void
Child::give_up()
{
	kill(pid_, SIGKILL);
	waitpid(pid_, nullptr, 0);
	reaped_ = true;
	throw std::runtime_error(command_ + ": still running after its wall-clock "
	    "limit, so it was killed");
}

/*
 * Follows a traced child from its exec stop to its exit stop, where its
 * memory is still mapped and its output already written, and reads its
 * peak memory and write accounting there.
 */
void
Child::trace_to_exit(Outcome &outcome)
{
	bool options_set = false;
	for (;;) {
		siginfo_t info{};
		if (!await(WEXITED | WSTOPPED, info))
			give_up();
		if (info.si_code != CLD_TRAPPED && info.si_code != CLD_STOPPED)
			return;
		int status = 0;
		waitpid(pid_, &status, 0);
		int deliver = 0;
		if (!options_set) {
			ptrace(PTRACE_SETOPTIONS, pid_, nullptr,
			    PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
			options_set = true;
		} else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
			read_io(pid_, outcome);
			outcome.max_rss_kib = static_cast<long>(proc_field(pid_, "status", "VmHWM"));
		} else {
			deliver = WSTOPSIG(status);
		}
		ptrace(PTRACE_CONT, pid_, nullptr, deliver);
	}
}

Outcome
Child::wait()
{
	Outcome outcome;
	if (traced_) {
		trace_to_exit(outcome);
	} else {
		siginfo_t info{};
		if (!await(WEXITED, info))
			give_up();
		read_io(pid_, outcome);
	}

	int status = 0;
	rusage usage{};
	while (wait4(pid_, &status, 0, &usage) < 0) {
		if (errno != EINTR)
			throw std::runtime_error("wait4 failed");
	}
	reaped_ = true;

	outcome.pid = pid_;
	if (WIFEXITED(status))
		outcome.exit_status = WEXITSTATUS(status);
	if (WIFSIGNALED(status))
		outcome.signal = WTERMSIG(status);
	outcome.out = contents(out_fd_);
	outcome.err = contents(err_fd_);
	outcome.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
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
	constexpr double line_bytes = 1001;
	const auto bytes = run.bytes_written -
	    static_cast<long long>(run.out.size() + run.err.size());
	return static_cast<double>(bytes) / line_bytes;
}
