// SPDX-License-Identifier: ISC
#include "report.h"

#include <cstdio>
#include <map>

#include "json.h"

static const char *
plural(double n, const char *one, const char *more)
{
	return n == 1 ? one : more;
}

static void
print_limit(const Limit &l)
{
	if (l.outside) {
		std::printf("limit         not visible: from this cgroup namespace the cgroup "
		    "cannot be found in the mount, nor any limit on it\n");
		return;
	}
	if (!l.quota) {
		std::printf("limit         no quota in %d %s looked at\n", l.levels,
		    plural(l.levels, "cgroup", "cgroups"));
		return;
	}
	std::printf("limit         %.2f CPU: %lld us of every %lld us, from %s\n",
	    quota_cpus(l), l.quota_us, l.period_us, l.source.c_str());
	if (l.burst_us > 0)
		std::printf("burst         %lld us ahead of the quota allowed\n", l.burst_us);
}

static void
print_slowness(const Figures &f)
{
	const double excess = f.wall - expected_seconds(f);
	if (excess <= 0)
		return;
	const Causes c = causes(f);
	const std::pair<double, const char *> all[] = {
	    {c.throttling, "throttled"}, {c.other_work, "other work"},
	    {c.run_queue, "run-queue wait"}, {c.blocked, "stopped or blocked"},
	    {c.pressure, "pressure"}, {c.steal, "steal"},
	};
	std::printf("slow by       %.3f s:", excess);
	const char *separator = " ";
	for (const auto &[seconds, what] : all) {
		if (seconds >= 0) {
			std::printf("%s%s %.3f s", separator, what, seconds);
			separator = ", ";
		}
	}
	std::printf("\n");
}

static void
print_origin(const Origin &o)
{
	std::printf("node          %s (%s)", o.node.c_str(), o.node_from.c_str());
	if (!o.job.empty())
		std::printf(", job %s", o.job.c_str());
	if (!o.task.empty())
		std::printf(", task %s", o.task.c_str());
	if (!o.pod.empty())
		std::printf(", pod %s", o.pod.c_str());
	std::printf("\n");
}

void
print_table(const Report &r)
{
	const Limit &l = r.limit;
	const Figures &f = r.figures;
	print_origin(r.origin);
	print_limit(l);
	if (f.expect > 0)
		std::printf("intended      %.3f CPU, against %.3f CPU in force\n", f.expect, f.found);
	if (r.verdict == Verdict::limit_changed)
		std::printf("after         %.3f CPU in force when the copies had ended\n", f.found_after);
	std::printf("cgroup        v%d %s, at %s\n", l.version, l.cgroup.c_str(),
	    l.outside ? "(not visible)" : l.dir.c_str());
	std::printf("allowed CPUs  %d\n", f.cpus);
	std::printf("capacity      %.2f CPU for %d %s of %d s\n", f.capacity, f.copies,
	    plural(f.copies, "copy", "copies"), f.seconds);
	std::printf("kernel        %s\n", r.kernel.c_str());
	std::printf("copy      pid  processor       wall  run queue\n");
	for (std::size_t i = 0; i < r.copies.size(); i++) {
		const Copy &c = r.copies[i];
		std::printf("%4zu  %7d  %7.3f s  %7.3f s", i + 1, static_cast<int>(c.pid), c.cpu,
		    c.ended - c.started);
		if (c.waited >= 0)
			std::printf("  %7.3f s", c.waited);
		std::printf("\n");
	}
	const double expected = expected_seconds(f);
	std::printf("group         %.3f s of wall-clock time against %.3f s expected, "
	    "ratio %.3f\n", f.wall, expected, f.wall / expected);
	if (r.used.usage >= 0)
		std::printf("usage         %.3f s by the cgroup against %.3f s by the copies\n",
		    r.used.usage, f.copies_cpu);
	else
		std::printf("usage         not visible; %.3f s by the copies\n", f.copies_cpu);
	if (other_work(f) > 0)
		std::printf("other work    %.3f s in the cgroup whose limit applies, beside the "
		    "copies and the checker\n", other_work(f));
	if (f.periods >= 0)
		std::printf("throttled     %lld of %lld periods, %.3f s\n", f.throttled, f.periods,
		    f.throttled_time);
	print_slowness(f);
	if (f.copies_cpu > 0)
		std::printf("checker       %.3f s of processor time, %.2f %% of the copies'\n",
		    f.checker_cpu, percent * f.checker_cpu / f.copies_cpu);
	else
		std::printf("checker       %.3f s of processor time\n", f.checker_cpu);
	std::printf("verdict       %s: %s\n", verdict_name(r.verdict),
	    verdict_text(r.verdict, f).c_str());
}

static void
limit_json(JsonWriter &j, const Limit &l)
{
	if (!l.quota) {
		j.null("limit");
		return;
	}
	j.open("limit")
	    .number("cpus", quota_cpus(l))
	    .integer("quota_us", l.quota_us)
	    .integer("period_us", l.period_us)
	    .integer("burst_us", l.burst_us)
	    .string("source", l.source)
	    .close();
}

static void
causes_json(JsonWriter &j, const Figures &f)
{
	const Causes c = causes(f);
	double seconds = 0;
	const char *largest = f.wall > expected_seconds(f) ? largest_cause(c, &seconds) : nullptr;
	j.open("slow")
	    .number("excess_seconds", f.wall - expected_seconds(f))
	    .number("throttled_seconds", c.throttling, c.throttling >= 0)
	    .number("other_work_seconds", c.other_work, c.other_work >= 0)
	    .number("run_queue_seconds", c.run_queue, c.run_queue >= 0)
	    .number("stopped_or_blocked_seconds", c.blocked, c.blocked >= 0)
	    .number("pressure_seconds", c.pressure, c.pressure >= 0)
	    .number("steal_seconds", c.steal, c.steal >= 0)
	    .string_or_null("largest", largest != nullptr ? largest : "")
	    .close();
}

void
print_json(const Report &r)
{
	const Limit &l = r.limit;
	const Figures &f = r.figures;
	const CpuStats &u = r.used;
	const double expected = expected_seconds(f);
	const bool stats = f.periods >= 0;
	JsonWriter j;
	j.open()
	    .string("version", CPUSPEND_VERSION)
	    .open("origin")
	    .string_or_null("node", r.origin.node)
	    .string_or_null("node_from", r.origin.node_from)
	    .string_or_null("job", r.origin.job)
	    .string_or_null("task", r.origin.task)
	    .string_or_null("pod", r.origin.pod)
	    .close()
	    .string("kernel", r.kernel)
	    .string("program", r.program)
	    .open("cgroup")
	    .integer("version", l.version)
	    .string("path", l.cgroup);
	if (l.outside)
		j.null("directory");
	else
		j.string("directory", l.dir);
	j.boolean("outside_namespace", l.outside).close();
	limit_json(j, l);
	j.number("limit_cpus", f.found)
	    .number("limit_cpus_after", f.found_after)
	    .number("expected_limit_cpus", f.expect, f.expect > 0)
	    .integer("allowed_cpus", f.cpus)
	    .integer("copies", f.copies)
	    .integer("seconds", f.seconds)
	    .number("capacity", f.capacity);
	runs_json(j, r.copies);
	j.number("wall_seconds", f.wall)
	    .number("expected_seconds", expected)
	    .number("ratio", f.wall / expected)
	    .number("cgroup_usage_seconds", u.usage, u.usage >= 0)
	    .number("limit_cgroup_usage_seconds", f.group_usage, f.group_usage >= 0)
	    .number("copies_cpu_seconds", f.copies_cpu)
	    .number("other_work_cpu_seconds", other_work(f), f.group_usage >= 0)
	    .number("periods", static_cast<double>(f.periods), stats)
	    .number("throttled_periods", static_cast<double>(f.throttled), stats)
	    .number("throttled_seconds", f.throttled_time, f.throttled_time >= 0)
	    .number("cpu_pressure_seconds", u.pressure, u.pressure >= 0)
	    .boolean("cpu_pressure_system_wide", u.pressure_system)
	    .number("steal_seconds", u.steal, u.steal >= 0);
	causes_json(j, f);
	j.number("checker_cpu_seconds", f.checker_cpu)
	    .number("tolerance_percent", percent * f.tolerance)
	    .number("allowed_early_percent", percent * allowed_early(f))
	    .string("verdict", verdict_name(r.verdict))
	    .string("message", verdict_text(r.verdict, f))
	    .close();
	std::printf("%s\n", j.text().c_str());
}

static bool
held(const Gathered &g)
{
	return g.verdict == "ok";
}

static std::map<std::string, int>
counts(const Gathering &g)
{
	std::map<std::string, int> by_verdict;
	for (const Gathered &report : g.reports)
		by_verdict[report.verdict]++;
	return by_verdict;
}

int
gathered_status(const Gathering &g, int expected)
{
	if (g.reports.empty() || static_cast<int>(g.reports.size()) < expected)
		return 2;
	for (const Gathered &report : g.reports) {
		if (!held(report))
			return 1;
	}
	return 0;
}

void
print_gathered_table(const Gathering &g, int expected)
{
	std::printf("%-24s %10s %9s %7s  %s\n", "node", "limit", "capacity", "ratio", "verdict");
	for (const Gathered &r : g.reports) {
		std::printf("%-24s %6.2f CPU %9.2f %7.3f  %s\n", row_name(r).c_str(), r.limit_cpus,
		    r.capacity, r.ratio, r.verdict.c_str());
	}
	std::printf("%zu %s", g.reports.size(), g.reports.size() == 1 ? "report" : "reports");
	if (expected > 0)
		std::printf(" of %d expected", expected);
	if (g.other_lines > 0)
		std::printf(", %d other %s", g.other_lines, g.other_lines == 1 ? "line" : "lines");
	const char *separator = ": ";
	for (const auto &[verdict, n] : counts(g)) {
		std::printf("%s%d %s", separator, n, verdict.c_str());
		separator = ", ";
	}
	std::printf("\n");
	/* Named whether or not reports are missing too. */
	bool named = false;
	for (const Gathered &r : g.reports) {
		if (!held(r)) {
			std::printf("%s%s", named ? ", " : "the limit did not hold on ",
			    row_name(r).c_str());
			named = true;
		}
	}
	if (named)
		std::printf("\n");
}

void
print_gathered_json(const Gathering &g, int expected)
{
	static const char *const verdicts[] = {"ok", "not-held", "incomplete"};
	JsonWriter j;
	j.open().open_array("reports");
	for (const Gathered &r : g.reports) {
		j.open()
		    .string_or_null("node", r.origin.node)
		    .string_or_null("job", r.origin.job)
		    .string_or_null("task", r.origin.task)
		    .string_or_null("pod", r.origin.pod)
		    .number("limit_cpus", r.limit_cpus, r.limit_cpus >= 0)
		    .number("capacity", r.capacity, r.capacity >= 0)
		    .number("ratio", r.ratio, r.ratio >= 0)
		    .string("verdict", r.verdict)
		    .string("message", r.message)
		    .close();
	}
	j.close_array().integer("other_lines", g.other_lines);
	if (expected > 0)
		j.integer("expected_reports", expected);
	else
		j.null("expected_reports");
	j.open("counts");
	for (const auto &[verdict, n] : counts(g))
		j.integer(verdict.c_str(), n);
	j.close().open_array("not_held");
	for (const Gathered &r : g.reports) {
		if (!held(r))
			j.string(nullptr, row_name(r));
	}
	j.close_array()
	    .string("verdict", verdicts[gathered_status(g, expected)])
	    .close();
	std::printf("%s\n", j.text().c_str());
}
