#include "child.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
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

Child::Child(const std::vector<std::string> &args, const Launch &launch)
{
	/* Everything the child needs is built before the fork. */
	std::vector<char *> argv;
	std::string program = CPUSPEND_BINARY;
	std::vector<std::string> arg_copies(args);
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

	pid_ = fork();
	if (pid_ < 0)
		throw std::runtime_error("fork failed");
	if (pid_ == 0) {
		if (dup2(in_fd, 0) < 0 || dup2(out_fd_, 1) < 0 || dup2(err_fd_, 2) < 0)
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
	timespec ts;
	if (clock_getcpuclockid(pid_, &id) != 0 || clock_gettime(id, &ts) != 0)
		return -1;
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool
Child::wait_for_cpu(double seconds, double wall_limit) const
{
	constexpr useconds_t poll_interval = 5000;
	const int polls = static_cast<int>(wall_limit * 1e6 / poll_interval);
	for (int i = 0; i < polls; i++) {
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

/* The kernel's count of bytes written (wchar), while the child is a zombie. */
static long long
bytes_written(pid_t pid)
{
	const int fd = open(("/proc/" + std::to_string(pid) + "/io").c_str(),
	    O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	const std::string io = contents(fd);
	close(fd);
	const std::string name = "wchar: ";
	const std::size_t field = io.find(name);
	return field == std::string::npos ? -1 :
	    std::strtoll(io.c_str() + field + name.size(), nullptr, 10);
}

Outcome
Child::wait()
{
	siginfo_t info{};
	while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0) {
		if (errno != EINTR)
			throw std::runtime_error("waitid failed");
	}
	Outcome outcome;
	outcome.bytes_written = bytes_written(pid_);

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
run_cpuspend(const std::vector<std::string> &args, const Launch &launch)
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

static std::string
report(const char *format, pid_t pid)
{
	char line[128];
	std::snprintf(line, sizeof line, format, static_cast<int>(pid));
	return line;
}

std::string
start_report(pid_t pid)
{
	return report("Process: %d - Begining to write to file.\n", pid);
}

std::string
finish_report(pid_t pid)
{
	return report("Process: %d - Finished.\n", pid);
}
