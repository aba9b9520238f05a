// SPDX-License-Identifier: ISC
/*
 * cpuspend-check-limit: runs copies of cpuspend under the CPU limit this
 * process is held to and says whether the limit held, by comparing the
 * wall-clock time the copies took with what their known spend of processor
 * time needs at the capacity the limit allows.
 */

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <getopt.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgroup.h"
#include "report.h"
#include "verdict.h"

static constexpr char name[] = "cpuspend-check-limit";
static constexpr int default_seconds = 5;
static constexpr double default_tolerance = 10; /* percent */
static constexpr int most_copies = 4096;
static constexpr double most_tolerance = 1000; /* percent */
static constexpr double nanoseconds = 1e9;
static constexpr double microseconds = 1e6;
/* The statuses a shell gives: a program it cannot run, and a signal's base. */
static constexpr int cannot_run = 127;
static constexpr int signal_status = 128;
static constexpr std::size_t error_line_max = 512;

static void
usage(std::FILE *out)
{
	std::fprintf(out, "usage: %s [--json] [--copies N] [--seconds S] "
	    "[--tolerance PERCENT] [--program PATH]\n       %s --help | --version\n",
	    name, name);
}

[[noreturn]] static void
usage_error(const char *what, const char *value)
{
	if (what != nullptr)
		std::fprintf(stderr, "%s: %s: invalid value '%s'\n", name, what, value);
	usage(stderr);
	std::exit(2);
}

/* One line on standard error and status 2: the check could not be made. */
[[noreturn]] static void
cannot_check(const std::string &why)
{
	std::fprintf(stderr, "%s: %s\n", name, why.c_str());
	std::exit(2);
}

static int
whole_number(const char *option, const char *text, int low, int high)
{
	char *end;
	errno = 0;
	const long value = std::strtol(text, &end, 10);
	if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
		usage_error(option, text);
	return static_cast<int>(value);
}

static double
monotonic()
{
	timespec ts{};
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / nanoseconds;
}

static double
seconds(const timeval &tv)
{
	return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / microseconds;
}

static bool
executable(const std::string &path)
{
	struct stat st {};
	return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
	    access(path.c_str(), X_OK) == 0;
}

/* A command as the shell finds it: on PATH, unless its name holds a slash. */
static std::string
find_program(const std::string &command)
{
	if (command.find('/') != std::string::npos)
		return executable(command) ? command : "";
	const char *path = std::getenv("PATH");
	std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
	std::size_t start = 0;
	for (;;) {
		const std::size_t end = std::min(dirs.find(':', start), dirs.size());
		const std::string dir = dirs.substr(start, end - start);
		std::string candidate = (dir.empty() ? "." : dir) + "/" + command;
		if (executable(candidate))
			return candidate;
		if (end == dirs.size())
			return "";
		start = end + 1;
	}
}

/* The cpuspend installed beside this program, else the one on PATH. */
static std::string
default_program()
{
	char self[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n > 0) {
		std::string beside(self, static_cast<std::size_t>(n));
		beside = beside.substr(0, beside.rfind('/') + 1) + "cpuspend";
		if (executable(beside))
			return beside;
	}
	return find_program("cpuspend");
}

struct Options {
	int copies = 1;
	int seconds = default_seconds;
	double tolerance = default_tolerance;
	std::string program;
	bool json = false;
};

static Options
parse_options(int argc, char *argv[])
{
	enum { copies = 1, seconds, tolerance, program, json, help, version };
	static const option longs[] = {
	    {"copies", required_argument, nullptr, copies},
	    {"seconds", required_argument, nullptr, seconds},
	    {"tolerance", required_argument, nullptr, tolerance},
	    {"program", required_argument, nullptr, program},
	    {"json", no_argument, nullptr, json},
	    {"help", no_argument, nullptr, help},
	    {"version", no_argument, nullptr, version},
	    {nullptr, 0, nullptr, 0},
	};
	Options o;
	int c;
	while ((c = getopt_long(argc, argv, "", longs, nullptr)) != -1) {
		switch (c) {
		case copies:
			o.copies = whole_number("--copies", optarg, 1, most_copies);
			break;
		case seconds:
			o.seconds = whole_number("--seconds", optarg, 1, INT_MAX);
			break;
		case tolerance: {
			char *end;
			o.tolerance = std::strtod(optarg, &end);
			if (end == optarg || *end != '\0' || !(o.tolerance >= 0 && o.tolerance <= most_tolerance))
				usage_error("--tolerance", optarg);
			break;
		}
		case program:
			o.program = optarg;
			break;
		case json:
			o.json = true;
			break;
		case help:
			usage(stdout);
			std::exit(0);
		case version:
			std::printf("%s %s\n", name, CPUSPEND_VERSION);
			std::exit(0);
		default:
			usage_error(nullptr, nullptr);
		}
	}
	if (optind < argc) {
		std::fprintf(stderr, "%s: unexpected argument '%s'\n", name, argv[optind]);
		usage_error(nullptr, nullptr);
	}
	return o;
}

/* The signals that stop a check; SIGCHLD wakes it when a copy ends. */
static sigset_t
watched_signals()
{
	sigset_t set;
	sigemptyset(&set);
	for (const int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP})
		sigaddset(&set, sig);
	return set;
}

/* Kills the copies still running and reaps them, leaving none behind. */
static int
stop_copies(std::vector<Copy> &copies)
{
	int stopped = 0;
	for (Copy &copy : copies) {
		if (copy.pid > 0 && copy.ended == 0) {
			kill(copy.pid, SIGKILL);
			waitpid(copy.pid, nullptr, 0);
			copy.ended = monotonic();
			stopped++;
		}
	}
	return stopped;
}

/*
 * Starts one copy with standard output discarded and standard error kept.
 * A copy that cannot be started ends the check, and the copies already
 * running with it.
 */
static void
start_copy(std::vector<Copy> &copies, std::size_t i, const Options &o,
    const sigset_t &old_mask)
{
	Copy &copy = copies[i];
	copy.err_fd = memfd_create("stderr", MFD_CLOEXEC);
	const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
	if (copy.err_fd < 0 || null_fd < 0) {
		stop_copies(copies);
		cannot_check(std::string("cannot set up a copy: ") + std::strerror(errno));
	}
	const std::string duration = std::to_string(o.seconds);
	const char *argv[] = {o.program.c_str(), "-seconds", duration.c_str(), nullptr};
	copy.started = monotonic();
	copy.pid = fork();
	if (copy.pid < 0) {
		const int error = errno;
		stop_copies(copies);
		cannot_check(std::string("cannot start a copy: ") + std::strerror(error));
	}
	if (copy.pid == 0) {
		sigprocmask(SIG_SETMASK, &old_mask, nullptr);
		if (dup2(null_fd, 0) >= 0 && dup2(null_fd, 1) >= 0 && dup2(copy.err_fd, 2) >= 0)
			execv(argv[0], const_cast<char *const *>(argv));
		dprintf(copy.err_fd, "cannot run %s: %s\n", argv[0], std::strerror(errno));
		_exit(cannot_run);
	}
	close(null_fd);
}

/* The first line a failed copy wrote on standard error, cut short if long. */
static std::string
first_error_line(int fd)
{
	char buffer[error_line_max] = "";
	const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
	if (n <= 0)
		return "";
	buffer[n] = '\0';
	buffer[std::strcspn(buffer, "\n")] = '\0';
	return std::string(": ") + buffer;
}

/* A copy that failed ends the check at once: the rest are stopped. */
[[noreturn]] static void
copy_failed(std::vector<Copy> &copies, std::size_t i)
{
	const Copy copy = copies[i];
	stop_copies(copies);
	const std::string what = WIFSIGNALED(copy.status) ?
	    "was killed by signal " + std::to_string(WTERMSIG(copy.status)) :
	    "exited with status " + std::to_string(WEXITSTATUS(copy.status));
	cannot_check("copy " + std::to_string(i + 1) + " (pid " + std::to_string(copy.pid) +
	    ") " + what + first_error_line(copy.err_fd));
}

/* Sleeps in the kernel until every copy has ended, reaping each as it does. */
static void
wait_for_copies(std::vector<Copy> &copies, const sigset_t &watched)
{
	std::size_t running = copies.size();
	while (running > 0) {
		siginfo_t info{};
		if (sigwaitinfo(&watched, &info) < 0)
			continue;
		if (info.si_signo != SIGCHLD) {
			const int stopped = stop_copies(copies);
			std::fprintf(stderr, "%s: interrupted by signal %d; stopped %d running %s\n",
			    name, info.si_signo, stopped, stopped == 1 ? "copy" : "copies");
			std::exit(signal_status + info.si_signo);
		}
		for (std::size_t i = 0; i < copies.size(); i++) {
			Copy &copy = copies[i];
			int status;
			rusage usage{};
			if (copy.ended != 0 || wait4(copy.pid, &status, WNOHANG, &usage) != copy.pid)
				continue;
			copy.ended = monotonic();
			copy.status = status;
			copy.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
			running--;
			if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
				copy_failed(copies, i);
		}
	}
}

static int
allowed_cpus()
{
	cpu_set_t set;
	CPU_ZERO(&set);
	if (sched_getaffinity(0, sizeof set, &set) != 0)
		return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
	return CPU_COUNT(&set);
}

int
main(int argc, char *argv[])
{
	Options o = parse_options(argc, argv);
	if (o.program.empty()) {
		o.program = default_program();
		if (o.program.empty())
			cannot_check("cpuspend not found beside this program or on PATH");
	} else {
		const std::string found = find_program(o.program);
		if (found.empty())
			cannot_check(o.program + ": not found, or not an executable file");
		o.program = found;
	}

	Report r;
	r.limit = find_limit("");
	if (r.limit.version == 0)
		cannot_check("no CPU controller visible: " + r.limit.why);
	utsname host{};
	uname(&host);
	r.kernel = host.release;
	r.program = o.program;
	r.cpus = allowed_cpus();
	const double cpu_capacity = std::min<double>(r.cpus, o.copies);
	r.capacity = r.limit.quota ? std::min(quota_cpus(r.limit), cpu_capacity) : cpu_capacity;
	r.figures = {o.copies, o.seconds, o.tolerance / percent, r.capacity, r.limit.quota,
	    r.limit.quota ? static_cast<double>(r.limit.period_us) / microseconds : 0,
	    0, -1, -1};

	const sigset_t watched = watched_signals();
	sigset_t old_mask;
	sigprocmask(SIG_BLOCK, &watched, &old_mask);
	r.copies.resize(static_cast<std::size_t>(o.copies));
	const CpuStats before = read_stats("", r.limit);
	for (std::size_t i = 0; i < r.copies.size(); i++)
		start_copy(r.copies, i, o, old_mask);
	wait_for_copies(r.copies, watched);
	r.used = stats_since(before, read_stats("", r.limit));

	rusage self{};
	getrusage(RUSAGE_SELF, &self);
	r.checker_cpu = seconds(self.ru_utime) + seconds(self.ru_stime);
	double first = r.copies.front().started;
	double last = 0;
	for (const Copy &copy : r.copies) {
		first = std::min(first, copy.started);
		last = std::max(last, copy.ended);
	}
	r.figures.wall = last - first;
	r.figures.periods = r.used.periods;
	r.figures.throttled = r.used.throttled;
	r.verdict = judge(r.figures);

	if (o.json)
		print_json(r);
	else
		print_table(r);
	return r.verdict == Verdict::ok ? 0 : 1;
}
