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
#include <string>
#include <vector>

#include <getopt.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgroup.h"
#include "process.h"
#include "report.h"
#include "run.h"
#include "verdict.h"

static constexpr char name[] = "cpuspend-check-limit";
static constexpr int default_seconds = 5;
static constexpr double default_tolerance = 10; /* percent */
static constexpr int most_copies = 4096;
static constexpr double most_tolerance = 1000; /* percent */
static constexpr double microseconds = 1e6;
/* The status a shell gives for a signal: its number past this. */
static constexpr int signal_status = 128;
/* What the Downward API gives for limits.cpu with divisor 1m: a whole number. */
static constexpr char expect_variable[] = "CPUSPEND_EXPECT_MILLICPUS";

static void
usage(std::FILE *out)
{
	std::fprintf(out, "usage: %s [--json] [--copies N] [--seconds S] "
	    "[--tolerance PERCENT]\n       %*s [--expect CPUS] [--program PATH]\n"
	    "       %s --help | --version\n", name, static_cast<int>(sizeof name - 1), "", name);
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
	double expect = 0;
	std::string program;
	bool json = false;
};

/* The limit intended, when the environment gives it and no option does. */
static double
expect_from_environment()
{
	const char *value = std::getenv(expect_variable);
	if (value == nullptr || *value == '\0')
		return 0;
	double cpus = 0;
	if (std::strchr(value, '.') != nullptr || !parse_cpus(std::string(value) + "m", &cpus))
		usage_error(expect_variable, value);
	return cpus;
}

static Options
parse_options(int argc, char *argv[])
{
	enum { copies = 1, seconds, tolerance, expect, program, json, help, version };
	static const option longs[] = {
	    {"copies", required_argument, nullptr, copies},
	    {"seconds", required_argument, nullptr, seconds},
	    {"tolerance", required_argument, nullptr, tolerance},
	    {"expect", required_argument, nullptr, expect},
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
		case expect:
			if (!parse_cpus(optarg, &o.expect))
				usage_error("--expect", optarg);
			break;
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
	if (o.expect == 0)
		o.expect = expect_from_environment();
	return o;
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

/* The limit in force: the quota's processors, else the CPUs this may run on. */
static double
limit_in_force(const Limit &limit, int cpus)
{
	return limit.quota ? quota_cpus(limit) : cpus;
}

/* Ends the check for what stopped the copies, with one line on standard error. */
[[noreturn]] static void
run_stopped(const RunEnd &end, const std::vector<Copy> &copies)
{
	switch (end.how) {
	case RunEnd::cannot_start:
		cannot_check(std::string("cannot start a copy: ") + std::strerror(end.error));
	case RunEnd::interrupted:
		std::fprintf(stderr, "%s: interrupted by signal %d; stopped %d running %s\n", name,
		    end.signal, end.stopped, end.stopped == 1 ? "copy" : "copies");
		std::exit(signal_status + end.signal);
	default: {
		const Copy &copy = copies[end.copy];
		const std::string what = WIFSIGNALED(copy.status) ?
		    "was killed by signal " + std::to_string(WTERMSIG(copy.status)) :
		    "exited with status " + std::to_string(WEXITSTATUS(copy.status));
		cannot_check("copy " + std::to_string(end.copy + 1) + " (pid " +
		    std::to_string(copy.pid) + ") " + what +
		    (end.first_error.empty() ? "" : ": " + end.first_error));
	}
	}
}

/* The figures of a run, built once the copies have ended. */
static Figures
figures(const Options &o, const Report &r, int cpus, const Limit &after, int cpus_after)
{
	const Limit &l = r.limit;
	Figures f;
	f.copies = o.copies;
	f.seconds = o.seconds;
	f.tolerance = o.tolerance / percent;
	f.cpus = cpus;
	f.capacity = std::min<double>(cpus, o.copies);
	if (l.quota)
		f.capacity = std::min(quota_cpus(l), f.capacity);
	f.quota = l.quota;
	f.quota_cpus = l.quota ? quota_cpus(l) : 0;
	f.period = l.quota ? static_cast<double>(l.period_us) / microseconds : 0;
	f.burst = static_cast<double>(l.burst_us) / microseconds;
	double first = r.copies.front().started;
	double last = 0;
	double waited = 0;
	for (const Copy &copy : r.copies) {
		first = std::min(first, copy.started);
		last = std::max(last, copy.ended);
		f.copies_cpu += copy.cpu;
		waited = waited < 0 || copy.waited < 0 ? -1 : waited + copy.waited;
	}
	f.wall = last - first;
	f.run_queue = waited < 0 ? -1 : waited / o.copies;
	f.periods = r.used.periods;
	f.throttled = r.used.throttled;
	f.throttled_time = r.used.throttled_time;
	f.group_usage = r.used.group_usage;
	f.pressure = r.used.pressure;
	const long online = sysconf(_SC_NPROCESSORS_ONLN);
	f.steal = r.used.steal < 0 || online <= 0 ? -1 : r.used.steal / static_cast<double>(online);
	rusage self{};
	getrusage(RUSAGE_SELF, &self);
	f.checker_cpu = cpu_seconds(self);
	f.expect = o.expect;
	f.found = limit_in_force(l, cpus);
	f.found_after = limit_in_force(after, cpus_after);
	return f;
}

int
main(int argc, char *argv[])
{
	/* Ignored, the kernel would reap the copies itself and leave nothing to wait for. */
	signal(SIGCHLD, SIG_DFL);
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
	const int cpus = allowed_cpus();

	const sigset_t watched = watched_signals();
	sigset_t old_mask;
	sigprocmask(SIG_BLOCK, &watched, &old_mask);
	r.copies.resize(static_cast<std::size_t>(o.copies));
	const CpuStats before = read_stats("", r.limit);
	const RunEnd end = run_copies(o.program, o.seconds, old_mask, r.copies);
	if (end.how != RunEnd::done)
		run_stopped(end, r.copies);
	r.used = stats_since(before, read_stats("", r.limit));
	const Limit after = find_limit("");

	r.figures = figures(o, r, cpus, after, allowed_cpus());
	r.verdict = judge(r.figures);
	if (o.json)
		print_json(r);
	else
		print_table(r);
	return r.verdict == Verdict::ok || r.verdict == Verdict::ok_shared ? 0 : 1;
}
