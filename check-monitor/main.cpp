// SPDX-License-Identifier: ISC
/*
 * cpuspend-check-monitor: spends a known amount of processor time with
 * copies of cpuspend and asks a monitor what it saw, from a Prometheus
 * server or a command, reading its cumulative figure before and after the
 * copies, and waiting after them until the figure is final.
 */

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <getopt.h>
#include <sys/resource.h>

#include "cgroup.h"
#include "cli.h"
#include "copies.h"
#include "process.h"
#include "report.h"
#include "http.h"
#include "metrics.h"
#include "progress.h"
#include "publish.h"
#include "scrape.h"
#include "source.h"
#include "verdict.h"

static constexpr char name[] = "cpuspend-check-monitor";
static constexpr double default_tolerance = 5; /* percent */
static constexpr double prometheus_interval = 15; /* its default scrape interval */
static constexpr double command_interval = 1;
static constexpr double default_settle = 60;
static constexpr double most_seconds = 86400;
static constexpr double reading_period = 1;
/* A change of the figure below this share of the tolerance's band is noise. */
static constexpr double noise_share = 0.1;
static constexpr double percent = 100;

static void
usage(std::FILE *out)
{
	std::fprintf(out,
	    "usage: %s --prometheus URL --query PROMQL [http options] [options]\n"
	    "       %s --scrape URL --query SELECTOR [http options] [options]\n"
	    "       %s --command CMD [--unit s|ms|us|ns] [options]\n"
	    "http options: [--ca-file FILE] [--bearer-token-file FILE | --basic-auth-file FILE]\n"
	    "         [--timeout SECONDS], for the monitor and the Pushgateway alike\n"
	    "options: [--json | --metrics] [--copies N] [--seconds S] [--tolerance PERCENT]\n"
	    "         [--interval SECONDS] [--settle SECONDS] [--program PATH]\n"
	    "         [--textfile PATH] [--push URL]\n"
	    "       %s --help | --version\n", name, name, name, name);
}

static const Cli cli = {name, CPUSPEND_VERSION, usage};

struct Options {
	CopyOptions run;
	std::string url, query, command;
	bool scrape = false; /* url is an exporter's page, query a selector */
	std::string unit = "s";
	double scale = 1;
	double interval = -1;
	double settle = default_settle;
};

static double
unit_scale(const char *unit)
{
	const std::pair<const char *, double> units[] = {
	    {"s", 1}, {"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9},
	};
	for (const auto &[text, scale] : units) {
		if (std::strcmp(unit, text) == 0)
			return scale;
	}
	usage_error(cli, "--unit", unit);
}

static Options
parse_options(int argc, char *argv[])
{
	enum { prometheus = option_own, scrape, query, command, unit, interval, settle };
	const std::vector<option> longs = options_with({
	    {"prometheus", required_argument, nullptr, prometheus},
	    {"scrape", required_argument, nullptr, scrape},
	    {"query", required_argument, nullptr, query},
	    {"command", required_argument, nullptr, command},
	    {"unit", required_argument, nullptr, unit},
	    {"interval", required_argument, nullptr, interval},
	    {"settle", required_argument, nullptr, settle},
	});
	Options o;
	o.run.tolerance = default_tolerance;
	bool unit_given = false;
	int urls = 0;
	int c;
	while ((c = getopt_long(argc, argv, "", longs.data(), nullptr)) != -1) {
		if (shared_option(cli, c, o.run))
			continue;
		switch (c) {
		case prometheus:
		case scrape:
			o.url = optarg;
			o.scrape = c == scrape;
			urls++;
			break;
		case query:
			o.query = optarg;
			break;
		case command:
			o.command = optarg;
			break;
		case unit:
			o.scale = unit_scale(optarg);
			o.unit = optarg;
			unit_given = true;
			break;
		case interval:
			o.interval = decimal_number(cli, "--interval", optarg, 0, most_seconds);
			break;
		case settle:
			o.settle = decimal_number(cli, "--settle", optarg, 0, most_seconds);
			break;
		default:
			usage_error(cli, nullptr, nullptr);
		}
	}
	no_operands(cli, argc, argv);
	const bool from_server = !o.url.empty() || !o.query.empty();
	if (urls > 1 || from_server == !o.command.empty() || (from_server &&
	    (o.url.empty() || o.query.empty() || unit_given))) {
		std::fprintf(stderr, "%s: give --prometheus or --scrape, and --query; or --command\n",
		    name);
		usage_error(cli, nullptr, nullptr);
	}
	check_shared_options(cli, o.run);
	/* An exporter read directly is as fresh as a command's figure. */
	if (o.interval < 0)
		o.interval = from_server && !o.scrape ? prometheus_interval : command_interval;
	return o;
}

/* What the checker and its children, less the copies, have spent so far. */
static double
own_cpu(const std::vector<Copy> &copies)
{
	rusage self{};
	rusage children{};
	getrusage(RUSAGE_SELF, &self);
	getrusage(RUSAGE_CHILDREN, &children);
	double own = cpu_seconds(self) + cpu_seconds(children);
	for (const Copy &copy : copies)
		own -= copy.cpu;
	return own;
}

struct Monitor {
	const Options &o;
	HttpUrl url;
	Selector selector;
	Signals signals;
	Progress *progress;
};

/* One reading; one that cannot be made ends the check. */
static Reading
read(const Monitor &m)
{
	Reading r;
	if (!m.o.command.empty())
		r = read_command({m.o.command, m.o.scale, m.o.run.http.timeout}, m.signals);
	else if (m.o.scrape)
		r = read_scrape(m.o.run.http, m.url, m.selector);
	else
		r = read_prometheus(m.o.run.http, m.url, m.o.query);
	if (r.signal != 0 || !r.ok)
		m.progress->erase();
	if (r.signal != 0)
		interrupted(cli, r.signal);
	if (!r.ok)
		cannot_check(cli, r.error);
	return r;
}

/* A second between readings, in which a signal still ends the check. */
static void
pause(const Monitor &m)
{
	const double until = monotonic_seconds() + reading_period;
	for (;;) {
		const double left = until - monotonic_seconds();
		if (left <= 0)
			return;
		const int sig = take_signal(m.signals.watched, left);
		if (sig != 0 && sig != SIGCHLD) {
			m.progress->erase();
			interrupted(cli, sig);
		}
	}
}

/* Reads the monitor every second after the copies until its figure is final. */
static void
wait_for_monitor(const Monitor &m, MonitorReport &r, double ended)
{
	MonitorFigures &f = r.figures;
	const double noise = noise_share * f.tolerance * f.spent;
	Settling settling({m.o.interval, noise}, {ended, r.before.value, own_cpu(r.copies)});
	for (;;) {
		r.after = read(m);
		r.readings++;
		const double now = monotonic_seconds();
		r.waited = now - ended;
		if (settling.take({now, r.after.value, own_cpu(r.copies)})) {
			r.settled = true;
			break;
		}
		if (r.waited >= m.o.settle)
			break;
		m.progress->waiting("for the monitor's figure to settle", r.waited, m.o.settle);
		pause(m);
	}
	m.progress->erase();
	f.went_back = settling.went_back() ||
	    (r.after.series && r.after.value < r.before.value - noise);
}

/* What a check that cannot be made needs to say so where its metrics go. */
static const Options *options = nullptr;
static Origin origin;

static void
report_cannot_check()
{
	publish_metrics(cli, options->run, origin.node, cannot_check_metrics(origin));
}

/* The report, where the options send it; the status says how the check went. */
static int
report(const Options &o, const MonitorReport &r)
{
	if (o.run.json)
		print_json(r);
	else if (!o.run.metrics.print)
		print_table(r);
	const int status = r.verdict == MonitorVerdict::accurate ? 0 : 1;
	if (!metrics_wanted(o.run.metrics))
		return status;
	const int sent = publish_metrics(cli, o.run, r.origin.node,
	    monitor_metrics(r, unix_seconds()));
	return sent != 0 ? sent : status;
}

int
main(int argc, char *argv[])
{
	guard_standard_streams(cli);
	/* Ignored, the kernel would reap the copies itself and leave nothing to wait for. */
	signal(SIGCHLD, SIG_DFL);
	Options o = parse_options(argc, argv);
	origin = origin_from_environment();
	options = &o;
	if (metrics_wanted(o.run.metrics))
		on_cannot_check(report_cannot_check);
	o.run.program = resolve_program(cli, o.run.program);
	const Limit limit = find_limit("");
	Progress progress(name, o.run.copies * static_cast<double>(o.run.seconds) /
	    copies_capacity(limit, allowed_cpus(), o.run.copies));
	Monitor m{o, {}, {}, {{}, watched_signals()}, &progress};
	MonitorReport r;
	r.origin = origin;
	if (o.command.empty()) {
		o.query = expand_references(o.query);
		std::string why;
		if (!parse_url(o.url, &m.url, &why))
			cannot_check(cli, o.url + ": " + why);
		if (o.scrape && !parse_selector(o.query, &m.selector, &why))
			cannot_check(cli, "--query " + o.query + ": " + why);
		why = credentials_problem(o.run.http);
		if (!why.empty())
			cannot_check(cli, why);
		r.source = o.scrape ? "scrape" : "prometheus";
		r.where = o.url;
		r.query = o.query;
	} else {
		r.source = "command";
		r.where = o.command;
		r.unit = o.unit;
	}
	r.interval = o.interval;
	r.seconds = o.run.seconds;
	sigprocmask(SIG_BLOCK, &m.signals.watched, &m.signals.mask);

	const CpuStats stats_before = read_stats("", limit);
	r.before = read(m);
	/* What the checker spent up to here is in the figure before already. */
	const double own_before = own_cpu(r.copies);
	r.copies.resize(static_cast<std::size_t>(o.run.copies));
	const RunEnd end = run_copies(o.run.program, o.run.seconds, m.signals.mask, r.copies,
	    &progress);
	if (end.how != RunEnd::done)
		copies_stopped(cli, end, r.copies);
	const double ended = monotonic_seconds();
	r.cgroup_usage = stats_since(stats_before, read_stats("", limit)).usage;

	MonitorFigures &f = r.figures;
	for (const Copy &copy : r.copies)
		f.spent += copy.cpu;
	f.tolerance = o.run.tolerance / percent;
	wait_for_monitor(m, r, ended);
	f.series = r.after.series;
	f.seen = r.after.value - r.before.value;
	f.own = own_cpu(r.copies) - own_before;
	r.verdict = judge(f);
	return report(o, r);
}
