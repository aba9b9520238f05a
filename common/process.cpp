// SPDX-License-Identifier: ISC
#include "process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/prctl.h>
#include <unistd.h>

static constexpr double nanoseconds = 1e9;
static constexpr double microseconds = 1e6;
static constexpr int cannot_run = 127;

double
clock_seconds(clockid_t id)
{
	timespec ts{};
	clock_gettime(id, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / nanoseconds;
}

static double
seconds(const timeval &tv)
{
	return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / microseconds;
}

double
cpu_seconds(const rusage &usage)
{
	return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/*
 * Between fork and exec only async-signal-safe calls are made.  The child
 * is killed when its parent dies, however it dies; a parent that died
 * before the child could ask for that has left it to another already.
 */
static void
exec_child(const Spawn &how, pid_t parent)
{
	if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
		_exit(cannot_run);
	struct sigaction dfl {};
	dfl.sa_handler = SIG_DFL;
	for (int sig = 1; sig < NSIG; sig++)
		sigaction(sig, &dfl, nullptr);
	if (how.own_group)
		setpgid(0, 0);
	sigprocmask(SIG_SETMASK, how.mask, nullptr);
	if (dup2(how.in, 0) >= 0 && dup2(how.out, 1) >= 0 && dup2(how.err, 2) >= 0)
		execve(how.path, how.argv, how.envp);
	const char *why = std::strerror(errno);
	dprintf(2, "cannot run %s: %s\n", how.path, why);
	_exit(cannot_run);
}

pid_t
spawn(const Spawn &how)
{
	const pid_t parent = getpid();
	const pid_t pid = fork();
	if (pid == 0)
		exec_child(how, parent);
	/* Also here, so that the group exists before the caller may stop it. */
	if (pid > 0 && how.own_group)
		setpgid(pid, pid);
	return pid;
}

std::string
fd_contents(int fd)
{
	std::string data;
	char buffer[BUFSIZ];
	ssize_t n;
	off_t at = 0;
	while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
		data.append(buffer, static_cast<std::size_t>(n));
		at += n;
	}
	return data;
}

int
take_signal(const sigset_t &watched, double seconds)
{
	const auto whole = static_cast<time_t>(seconds);
	const timespec wait{whole,
	    static_cast<long>((seconds - static_cast<double>(whole)) * nanoseconds)};
	const int sig = sigtimedwait(&watched, nullptr, &wait);
	return sig > 0 ? sig : 0;
}
