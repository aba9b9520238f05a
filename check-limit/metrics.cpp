// SPDX-License-Identifier: ISC
#include "report.h"

#include "metrics.h"

static void
verdicts(MetricsWriter &m, const char *given)
{
	std::vector<std::string> names;
	for (const Verdict v : {Verdict::ok, Verdict::faster, Verdict::slower_throttled,
	    Verdict::slower_contention, Verdict::unexpected_limit, Verdict::limit_changed})
		names.emplace_back(verdict_name(v));
	verdict_family(m, "cpuspend_limit_check_verdict",
	    "1 for the verdict of the last check of the CPU limit, 0 for every other.", names, given);
}

static void
ok(MetricsWriter &m, bool held)
{
	m.gauge("cpuspend_limit_check_ok", "1 when the CPU limit held, else 0.", held ? 1 : 0);
}

static void
last_run(MetricsWriter &m, double now)
{
	m.gauge("cpuspend_limit_check_last_run_timestamp_seconds",
	    "When the check ended, in seconds since the epoch.", now);
}

static void
expected_limit(MetricsWriter &m, double expect)
{
	if (expect > 0)
		m.gauge("cpuspend_limit_check_expected_limit_cpus",
		    "The CPU limit intended, in CPUs, as --expect gave it.", expect);
}

static void
slowness(MetricsWriter &m, const Figures &f)
{
	const double excess = f.wall - expected_seconds(f);
	m.gauge("cpuspend_limit_check_excess_seconds",
	    "Wall-clock seconds the copies took past the time expected; negative when early.",
	    excess);
	const Causes c = causes(f);
	const std::pair<double, const char *> all[] = {
	    {c.throttling, "throttled"}, {c.other_work, "other_work"},
	    {c.run_queue, "run_queue"}, {c.blocked, "stopped_or_blocked"},
	    {c.pressure, "pressure"}, {c.steal, "steal"},
	};
	m.family("cpuspend_limit_check_slow_seconds",
	    "Seconds of the excess that each cause, where the kernel counts it, accounts for; "
	    "they overlap, and are 0 when the copies were not slow.");
	for (const auto &[seconds, cause] : all) {
		if (seconds >= 0)
			m.series("cpuspend_limit_check_slow_seconds", {{"cause", cause}},
			    excess > 0 ? seconds : 0);
	}
}

std::string
limit_metrics(const Report &r, double now)
{
	const Figures &f = r.figures;
	const bool held = r.verdict == Verdict::ok || r.verdict == Verdict::ok_shared;
	MetricsWriter m(origin_labels(r.origin));
	ok(m, held);
	verdicts(m, verdict_name(r.verdict));
	m.gauge("cpuspend_limit_check_ratio",
	    "The copies' wall-clock time over the time the limit allows them.",
	    f.wall / expected_seconds(f));
	m.gauge("cpuspend_limit_check_limit_cpus",
	    "The CPU limit in force, in CPUs: the quota, else the CPUs allowed.", f.found);
	expected_limit(m, f.expect);
	m.gauge("cpuspend_limit_check_capacity_cpus",
	    "The CPUs the copies could have at once under the limit.", f.capacity);
	m.gauge("cpuspend_limit_check_copies", "Copies of cpuspend run at once.", f.copies);
	m.gauge("cpuspend_limit_check_copies_cpu_seconds",
	    "Processor seconds the copies spent, all together.", f.copies_cpu);
	m.gauge("cpuspend_limit_check_expected_seconds",
	    "Wall-clock seconds the copies should take at the limit.", expected_seconds(f));
	m.gauge("cpuspend_limit_check_wall_seconds",
	    "Wall-clock seconds the copies took, from the first start to the last end.", f.wall);
	slowness(m, f);
	m.gauge("cpuspend_limit_check_checker_cpu_seconds",
	    "Processor seconds the checker itself spent.", f.checker_cpu);
	last_run(m, now);
	return m.text();
}

std::string
cannot_check_metrics(const Origin &origin, double expect)
{
	MetricsWriter m(origin_labels(origin));
	ok(m, false);
	verdicts(m, cannot_check_verdict);
	expected_limit(m, expect);
	last_run(m, unix_seconds());
	return m.text();
}
