// SPDX-License-Identifier: ISC
#include "copies.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "json.h"
#include "process.h"
#include "progress.h"

static constexpr std::size_t error_line_max = 512;
static constexpr std::size_t schedstat_max = 128;
static constexpr int decimal = 10;
static constexpr double nanoseconds = 1e9;

void
runs_json(JsonWriter &j, const std::vector<Copy> &copies)
{
	j.open_array("runs");
	for (const Copy &c : copies) {
		j.open()
		    .integer("pid", c.pid)
		    .number("cpu_seconds", c.cpu)
		    .number("wall_seconds", c.ended - c.started)
		    .number("run_queue_seconds", c.waited, c.waited >= 0)
		    .close();
	}
	j.close_array();
}

sigset_t
watched_signals()
{
	sigset_t set;
	sigemptyset(&set);
	for (const int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP})
		sigaddset(&set, sig);
	return set;
}

/*
 * Seconds the process waited on a run queue, the second figure of
 * /proc/PID/schedstat, which a zombie still has.
 */
static double
run_queue_seconds(pid_t pid)
{
	const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
	char text[schedstat_max] = "";
	const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	const ssize_t n = read(fd, text, sizeof text - 1);
	close(fd);
	if (n <= 0)
		return -1;
	text[n] = '\0';
	char *end = nullptr;
	std::strtoull(text, &end, decimal);
	const char *second = end;
	const unsigned long long ns = std::strtoull(second, &end, decimal);
	return end == second ? -1 : static_cast<double>(ns) / nanoseconds;
}

/* Kills a copy's process group and reaps the copy, if it still runs. */
static bool
stop(Copy &copy)
{
	if (copy.pid <= 0 || copy.ended != 0)
		return false;
	kill(-copy.pid, SIGKILL);
	kill(copy.pid, SIGKILL);
	waitpid(copy.pid, nullptr, 0);
	copy.ended = monotonic_seconds();
	return true;
}

static int
stop_all(std::vector<Copy> &copies)
{
	int stopped = 0;
	for (Copy &copy : copies)
		stopped += stop(copy) ? 1 : 0;
	return stopped;
}

/* The first line in fd, cut short if long. */
static std::string
first_line(int fd)
{
	char buffer[error_line_max] = "";
	const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
	if (n <= 0)
		return "";
	buffer[n] = '\0';
	buffer[std::strcspn(buffer, "\n")] = '\0';
	return buffer;
}

/*
 * Takes a copy that has exited: its run-queue wait while /proc still has
 * it, then whatever it left in its group, then its status and rusage.
 * While the copy is a zombie its process id, and so its group's, cannot
 * be reused, so the kill reaches nothing else.
 */
static void
reap(Copy &copy)
{
	copy.waited = run_queue_seconds(copy.pid);
	kill(-copy.pid, SIGKILL);
	rusage usage{};
	wait4(copy.pid, &copy.status, 0, &usage);
	copy.ended = monotonic_seconds();
	copy.cpu = cpu_seconds(usage);
}

/* Sleeps until every copy has ended, or one fails, or a signal stops the check. */
static RunEnd
wait_for(std::vector<Copy> &copies, int err_fd, Progress *progress)
{
	const sigset_t watched = watched_signals();
	std::vector<std::pair<pid_t, std::size_t>> by_pid;
	for (std::size_t i = 0; i < copies.size(); i++)
		by_pid.emplace_back(copies[i].pid, i);
	std::sort(by_pid.begin(), by_pid.end());
	std::size_t running = copies.size();
	RunEnd end;
	const double start = monotonic_seconds();
	const bool shown = progress != nullptr && progress->shown();
	while (running > 0) {
		if (shown)
			progress->copies(running, copies.size(), monotonic_seconds() - start);
		const int sig = shown ? take_signal(watched, Progress::period) :
		    sigwaitinfo(&watched, nullptr);
		if (sig <= 0)
			continue;
		if (sig != SIGCHLD) {
			end.how = RunEnd::interrupted;
			end.signal = sig;
			end.stopped = stop_all(copies);
			return end;
		}
		/* One SIGCHLD may stand for several children: take every one that has exited. */
		for (;;) {
			siginfo_t child{};
			if (waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0 || child.si_pid == 0)
				break;
			const auto at = std::lower_bound(by_pid.begin(), by_pid.end(),
			    std::make_pair(child.si_pid, std::size_t{0}));
			if (at == by_pid.end() || at->first != child.si_pid) {
				waitpid(child.si_pid, nullptr, 0);
				continue;
			}
			Copy &copy = copies[at->second];
			reap(copy);
			running--;
			if (!WIFEXITED(copy.status) || WEXITSTATUS(copy.status) != 0) {
				end.how = RunEnd::failed;
				end.copy = at->second;
				end.stopped = stop_all(copies);
				end.first_error = first_line(err_fd);
				return end;
			}
		}
	}
	return end;
}

/*
 * All copies share one standard error, a memory file read only when one
 * fails, so that the number of copies is not bounded by the open-files
 * limit.
 */
RunEnd
run_copies(const std::string &program, int seconds, const sigset_t &mask,
    std::vector<Copy> &copies, Progress *progress)
{
	RunEnd end;
	const int err_fd = memfd_create("stderr", MFD_CLOEXEC);
	const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
	if (err_fd < 0 || null_fd < 0) {
		end.how = RunEnd::cannot_start;
		end.error = errno;
		for (const int fd : {err_fd, null_fd})
			if (fd >= 0)
				close(fd);
		return end;
	}
	std::string path = program;
	std::string option = "-seconds";
	std::string duration = std::to_string(seconds);
	char *const argv[] = {path.data(), option.data(), duration.data(), nullptr};
	for (Copy &copy : copies) {
		copy.started = monotonic_seconds();
		copy.pid = spawn({path.c_str(), argv, environ, null_fd, null_fd, err_fd, &mask, true});
		if (copy.pid < 0) {
			end.how = RunEnd::cannot_start;
			end.error = errno;
			end.stopped = stop_all(copies);
			break;
		}
	}
	close(null_fd);
	if (end.how == RunEnd::done)
		end = wait_for(copies, err_fd, progress);
	close(err_fd);
	if (progress != nullptr)
		progress->erase();
	return end;
}
