// SPDX-License-Identifier: ISC
/*
 * cpuspend-check-limit: runs copies of cpuspend under the CPU limit this
 * process is held to and says whether the limit held, by comparing the
 * wall-clock time the copies took with what their known spend of processor
 * time needs at the capacity the limit allows.
 */

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <getopt.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgroup.h"
#include "cli.h"
#include "process.h"
#include "copies.h"
#include "metrics.h"
#include "progress.h"
#include "publish.h"
#include "report.h"
#include "verdict.h"

static constexpr char name[] = "cpuspend-check-limit";
static constexpr double default_tolerance = 10; /* percent */
static constexpr double microseconds = 1e6;
/* What the Downward API gives for limits.cpu with divisor 1m: a whole number. */
static constexpr char expect_variable[] = "CPUSPEND_EXPECT_MILLICPUS";

static void
usage(std::FILE *out)
{
	const int indent = static_cast<int>(sizeof name - 1);
	std::fprintf(out, "usage: %s [--json | --metrics] [--copies N] [--seconds S] "
	    "[--tolerance PERCENT]\n       %*s [--expect CPUS] [--program PATH] [--textfile PATH]\n"
	    "       %*s [--push URL [--ca-file FILE] [--bearer-token-file FILE |\n"
	    "       %*s  --basic-auth-file FILE] [--timeout SECONDS]]\n"
	    "       %s --gather [--reports N] [--json] < reports\n"
	    "       %s --help | --version\n", name, indent, "", indent, "", indent, "", name, name);
}

static const Cli cli = {name, CPUSPEND_VERSION, usage};

struct Options {
	CopyOptions run;
	double expect = 0;
	bool gather = false;
	int reports = 0; /* expected by --gather; 0: any number */
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
		usage_error(cli, expect_variable, value);
	return cpus;
}

static Options
parse_options(int argc, char *argv[])
{
	enum { expect = option_own, gather, reports };
	const std::vector<option> longs = options_with({
	    {"expect", required_argument, nullptr, expect},
	    {"gather", no_argument, nullptr, gather},
	    {"reports", required_argument, nullptr, reports},
	});
	Options o;
	o.run.tolerance = default_tolerance;
	int c;
	while ((c = getopt_long(argc, argv, "", longs.data(), nullptr)) != -1) {
		if (shared_option(cli, c, o.run))
			continue;
		if (c == gather)
			o.gather = true;
		else if (c == reports)
			o.reports = whole_number(cli, "--reports", optarg, 1, INT_MAX);
		else if (c != expect || !parse_cpus(optarg, &o.expect))
			usage_error(cli, c == expect ? "--expect" : nullptr, optarg);
	}
	no_operands(cli, argc, argv);
	check_shared_options(cli, o.run);
	const char *wrong = nullptr;
	if (o.reports > 0 && !o.gather)
		wrong = "--reports goes with --gather";
	else if (o.gather && metrics_wanted(o.run.metrics))
		wrong = "--metrics, --textfile and --push do not go with --gather";
	if (wrong != nullptr) {
		std::fprintf(stderr, "%s: %s\n", name, wrong);
		usage_error(cli, nullptr, nullptr);
	}
	if (o.expect == 0)
		o.expect = expect_from_environment();
	return o;
}

/* The limit in force: the quota's processors, else the CPUs this may run on. */
static double
limit_in_force(const Limit &limit, int cpus)
{
	return limit.quota ? quota_cpus(limit) : cpus;
}

/* The figures of a run, built once the copies have ended. */
static Figures
figures(const Options &o, const Report &r, int cpus, const Limit &after, int cpus_after)
{
	const Limit &l = r.limit;
	Figures f;
	f.copies = o.run.copies;
	f.seconds = o.run.seconds;
	f.tolerance = o.run.tolerance / percent;
	f.cpus = cpus;
	f.capacity = copies_capacity(l, cpus, o.run.copies);
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
		/* A copy's wall-clock time is its running, its waiting to run, and the rest. */
		const double rest = copy.ended - copy.started - copy.cpu - copy.waited;
		f.blocked = std::max({f.blocked, rest, 0.0});
	}
	f.wall = last - first;
	f.run_queue = waited < 0 ? -1 : waited / o.run.copies;
	if (waited < 0)
		f.blocked = -1;
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

/* Reads reports from standard input and answers for them all. */
static int
gather_reports(const Options &o)
{
	const Gathering g = gather(read_all(stdin));
	if (o.run.json)
		print_gathered_json(g, o.reports);
	else
		print_gathered_table(g, o.reports);
	const int status = gathered_status(g, o.reports);
	if (g.reports.empty())
		std::fprintf(stderr, "%s: no report among %d %s of input\n", name, g.other_lines,
		    g.other_lines == 1 ? "line" : "lines");
	else if (status == 2)
		std::fprintf(stderr, "%s: %zu of %d reports expected\n", name, g.reports.size(),
		    o.reports);
	return status;
}

/* What a check that cannot be made needs to say so where its metrics go. */
static const Options *options = nullptr;
static Origin origin;

static void
report_cannot_check()
{
	publish_metrics(cli, options->run, origin.node,
	    cannot_check_metrics(origin, options->expect));
}

/* The report, where the options send it; the status says how the check went. */
static int
report(const Options &o, const Report &r)
{
	if (o.run.json)
		print_json(r);
	else if (!o.run.metrics.print)
		print_table(r);
	const int status = r.verdict == Verdict::ok || r.verdict == Verdict::ok_shared ? 0 : 1;
	if (!metrics_wanted(o.run.metrics))
		return status;
	const int sent = publish_metrics(cli, o.run, r.origin.node, limit_metrics(r, unix_seconds()));
	return sent != 0 ? sent : status;
}

int
main(int argc, char *argv[])
{
	guard_standard_streams(cli);
	/* Ignored, the kernel would reap the copies itself and leave nothing to wait for. */
	signal(SIGCHLD, SIG_DFL);
	Options o = parse_options(argc, argv);
	if (o.gather)
		return gather_reports(o);
	origin = origin_from_environment();
	options = &o;
	if (metrics_wanted(o.run.metrics))
		on_cannot_check(report_cannot_check);
	o.run.program = resolve_program(cli, o.run.program);

	Report r;
	r.origin = origin;
	r.limit = find_limit("");
	if (r.limit.version == 0)
		cannot_check(cli, "no CPU controller visible: " + r.limit.why);
	utsname host{};
	uname(&host);
	r.kernel = host.release;
	r.program = o.run.program;
	const int cpus = allowed_cpus();

	const sigset_t watched = watched_signals();
	sigset_t old_mask;
	sigprocmask(SIG_BLOCK, &watched, &old_mask);
	r.copies.resize(static_cast<std::size_t>(o.run.copies));
	const CpuStats before = read_stats("", r.limit);
	Progress progress(name, o.run.copies * static_cast<double>(o.run.seconds) /
	    copies_capacity(r.limit, cpus, o.run.copies));
	const RunEnd end = run_copies(o.run.program, o.run.seconds, old_mask, r.copies, &progress);
	if (end.how != RunEnd::done)
		copies_stopped(cli, end, r.copies);
	r.used = stats_since(before, read_stats("", r.limit));
	const Limit after = find_limit("");

	r.figures = figures(o, r, cpus, after, allowed_cpus());
	r.verdict = judge(r.figures);
	return report(o, r);
}
