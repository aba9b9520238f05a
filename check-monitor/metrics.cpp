// SPDX-License-Identifier: ISC
#include "report.h"

#include "metrics.h"

static void
verdicts(MetricsWriter &m, const char *given)
{
	std::vector<std::string> names;
	for (const MonitorVerdict v : {MonitorVerdict::accurate, MonitorVerdict::under,
	    MonitorVerdict::over, MonitorVerdict::missing, MonitorVerdict::reset})
		names.emplace_back(verdict_name(v));
	verdict_family(m, "cpuspend_monitor_check_verdict",
	    "1 for the verdict of the last check of the monitor, 0 for every other.", names, given);
}

static void
ok(MetricsWriter &m, bool accurate)
{
	m.gauge("cpuspend_monitor_check_ok",
	    "1 when the monitor saw what the copies spent, else 0.", accurate ? 1 : 0);
}

static void
last_run(MetricsWriter &m, double now)
{
	m.gauge("cpuspend_monitor_check_last_run_timestamp_seconds",
	    "When the check ended, in seconds since the epoch.", now);
}

std::string
monitor_metrics(const MonitorReport &r, double now)
{
	static constexpr double percent = 100;
	const MonitorFigures &f = r.figures;
	MetricsWriter m(origin_labels(r.origin));
	ok(m, r.verdict == MonitorVerdict::accurate);
	verdicts(m, verdict_name(r.verdict));
	m.gauge("cpuspend_monitor_check_spent_seconds",
	    "Processor seconds the copies spent.", f.spent);
	m.gauge("cpuspend_monitor_check_seen_seconds",
	    "Processor seconds the monitor's figure grew by meanwhile.", f.seen);
	m.gauge("cpuspend_monitor_check_difference_ratio",
	    "What the monitor saw less what the copies spent, over what they spent.",
	    difference_percent(f) / percent);
	m.gauge("cpuspend_monitor_check_checker_cpu_seconds",
	    "Processor seconds the checker itself spent, its readings included.", f.own);
	m.gauge("cpuspend_monitor_check_waited_seconds",
	    "Seconds the checker waited after the copies for the monitor's figure.", r.waited);
	last_run(m, now);
	return m.text();
}

std::string
cannot_check_metrics(const Origin &origin)
{
	MetricsWriter m(origin_labels(origin));
	ok(m, false);
	verdicts(m, cannot_check_verdict);
	last_run(m, unix_seconds());
	return m.text();
}
