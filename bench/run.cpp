#include "run.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static double
seconds(const timeval &tv)
{
	return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

/* Reads the first "name: number" line of /proc/PID/file. */
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

/* Stops a traced child at its exit, reads its peak memory there, and reaps it. */
static void
watch_exit(pid_t pid, Usage &usage, int &status, rusage &ru)
{
	waitpid(pid, &status, 0); /* stopped at the exec */
	ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
	int deliver = 0;
	for (;;) {
		ptrace(PTRACE_CONT, pid, nullptr, deliver);
		if (wait4(pid, &status, 0, &ru) < 0)
			throw std::runtime_error("wait4 failed");
		if (!WIFSTOPPED(status))
			return;
		deliver = 0;
		if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
			usage.bytes_written = proc_field(pid, "io", "wchar");
			usage.max_rss_kib = static_cast<long>(proc_field(pid, "status", "VmHWM"));
		} else {
			deliver = WSTOPSIG(status);
		}
	}
}

/*
 * Tracing costs the child processor time at its exit stop, so it is used
 * only when memory is asked for: the rusage high-water mark would also count
 * the launcher's memory from before the exec.
 */
Usage
run_cpuspend(const char *const argv[], bool measure_memory)
{
	const pid_t pid = fork();
	if (pid < 0)
		throw std::runtime_error("fork failed");
	if (pid == 0) {
		const int null = open("/dev/null", O_WRONLY);
		if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0)
			_exit(126);
		if (measure_memory && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) < 0)
			_exit(126);
		execve(CPUSPEND_BINARY, const_cast<char *const *>(argv), environ);
		_exit(127);
	}

	Usage usage{};
	usage.max_rss_kib = -1;
	int status = 0;
	rusage ru{};
	if (measure_memory) {
		watch_exit(pid, usage, status, ru);
	} else {
		siginfo_t info{};
		waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
		usage.bytes_written = proc_field(pid, "io", "wchar");
		wait4(pid, &status, 0, &ru);
	}
	usage.status = status;
	usage.cpu_seconds = seconds(ru.ru_utime) + seconds(ru.ru_stime);
	return usage;
}
