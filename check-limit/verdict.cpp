// SPDX-License-Identifier: ISC
#include "verdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

/* Room for the longest verdict, with its figures. */
static constexpr std::size_t verdict_text_size = 320;

/*
 * The share of the periods that must have been throttled, and of the time
 * past the expected that the periods must cover, for throttling to explain
 * a slow run.
 */
static constexpr double throttled_share = 0.8;
static constexpr double excess_share = 0.5;
/* Other work below this share of the copies' time is noise, not sharing. */
static constexpr double other_share = 0.02;

/* More processors than any machine has: a value past it is a mistake. */
static constexpr double most_cpus = 1e6;
static constexpr double milli = 1e-3;

bool
parse_cpus(const std::string &text, double *cpus)
{
	std::string number = text;
	double scale = 1;
	if (!number.empty() && number.back() == 'm') {
		number.pop_back();
		scale = milli;
	}
	const std::size_t point = number.find('.');
	std::string digits = number;
	if (point != std::string::npos)
		digits.erase(point, 1);
	if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
	    point == 0 || point + 1 == number.size())
		return false;
	*cpus = std::strtod(number.c_str(), nullptr) * scale;
	return *cpus > 0 && *cpus <= most_cpus;
}

double
expected_seconds(const Figures &f)
{
	return f.copies * static_cast<double>(f.seconds) / f.capacity;
}

/* How many copies can run at a time. */
static double
parallel(const Figures &f)
{
	return std::min(f.copies, f.cpus);
}

/*
 * A burst lets the limiting cgroup spend that much more than its quota, so
 * the copies can finish as much sooner, though no sooner than on as many
 * CPUs as can run them.
 */
static double
burst_share(const Figures &f)
{
	if (!f.quota || f.burst <= 0 || f.quota_cpus > f.capacity)
		return 0;
	const double work = f.copies * static_cast<double>(f.seconds);
	const double soonest = std::max(work / parallel(f), (work - f.burst) / f.quota_cpus);
	return std::max(0.0, 1 - soonest / expected_seconds(f));
}

double
allowed_early(const Figures &f)
{
	const double period_share = f.quota ? f.period / expected_seconds(f) : 0;
	return std::min(f.tolerance, faster_margin + period_share) + burst_share(f);
}

double
other_work(const Figures &f)
{
	if (f.group_usage < 0)
		return -1;
	return std::max(0.0, f.group_usage - f.copies_cpu - f.checker_cpu);
}

/*
 * A slow run is put down to throttling when the group was throttled in
 * nearly every period and the periods, which the kernel counts only while
 * the group has work, ran on through at least half of the time it took
 * past the expected.  Waiting for CPUs busy with other work leaves periods
 * in which the quota was not reached, so not throttled; not running at
 * all leaves no periods.
 */
static bool
throttling_explains(const Figures &f)
{
	if (!f.quota || f.periods <= 0 || f.throttled < 0)
		return false;
	const double expected = expected_seconds(f);
	const double enforced = static_cast<double>(f.periods) * f.period;
	return static_cast<double>(f.throttled) >= throttled_share * static_cast<double>(f.periods) &&
	    enforced >= expected + excess_share * (f.wall - expected);
}

/* The processors the limiting cgroup can have: its quota's, and no more than the CPUs. */
static double
group_cpus(const Figures &f)
{
	return f.quota ? std::min(f.quota_cpus, static_cast<double>(f.cpus)) : f.cpus;
}

/* Other work in the cgroup, while the cgroup as a whole got its quota. */
static bool
shared_quota(const Figures &f)
{
	if (!f.quota || other_work(f) <= other_share * f.copies_cpu)
		return false;
	return f.group_usage / f.wall >= group_cpus(f) * (1 - f.tolerance);
}

static bool
differs(double found, double wanted)
{
	return std::fabs(found - wanted) > expect_margin * wanted;
}

Verdict
judge(const Figures &f)
{
	if (differs(f.found_after, f.found))
		return Verdict::limit_changed;
	if (f.expect > 0 && differs(f.found, f.expect))
		return Verdict::unexpected_limit;
	const double ratio = f.wall / expected_seconds(f);
	if (ratio < 1 - allowed_early(f))
		return Verdict::faster;
	if (ratio <= 1 + f.tolerance)
		return Verdict::ok;
	if (shared_quota(f))
		return Verdict::ok_shared;
	return throttling_explains(f) ? Verdict::slower_throttled : Verdict::slower_contention;
}

/* What is left of a figure once what the limit itself explains is taken off. */
static double
beyond(double figure, double explained, double scale = 1)
{
	return figure < 0 ? -1 : std::max(0.0, figure / scale - explained);
}

/*
 * Held to the limit, each copy is runnable all along and waits, on a run
 * queue or throttled, for the expected time less its own spend; and each
 * CPU that runs copies is throttled for the expected time less its share
 * of the work.
 */
Causes
causes(const Figures &f)
{
	const double expected = expected_seconds(f);
	const double per_cpu_work = f.copies * static_cast<double>(f.seconds) / parallel(f);
	const double idle_per_cpu = std::max(0.0, expected - per_cpu_work);
	Causes c;
	c.excess = f.wall - expected;
	if (f.quota)
		c.throttling = beyond(f.throttled_time, idle_per_cpu, parallel(f));
	c.other_work = beyond(other_work(f), 0, group_cpus(f));
	c.run_queue = beyond(f.run_queue, std::max(0.0, expected - f.seconds));
	c.pressure = beyond(f.pressure, f.copies > f.cpus ? expected : idle_per_cpu);
	c.steal = beyond(f.steal, 0);
	c.blocked = beyond(f.blocked, 0);
	/* None accounts for more than all of the excess: throttled time, summed
	 * over the CPUs, also counts other work's. */
	for (double *figure : {&c.throttling, &c.other_work, &c.run_queue, &c.pressure, &c.steal,
	    &c.blocked})
		*figure = std::min(*figure, std::max(0.0, c.excess));
	return c;
}

/* Figures closer than a microsecond, finer than the kernel counts, are a tie. */
static constexpr double tie = 1e-6;

/* Of the first n figures, the largest above zero, the first on a tie. */
static const char *
largest_of(const std::pair<double, const char *> *all, std::size_t n, double *seconds)
{
	const char *name = nullptr;
	*seconds = 0;
	for (std::size_t i = 0; i < n; i++) {
		if (all[i].first > *seconds + (name != nullptr ? tie : 0)) {
			*seconds = all[i].first;
			name = all[i].second;
		}
	}
	return name;
}

const char *
largest_cause(const Causes &c, double *seconds)
{
	/*
	 * Time stopped is certain to be no other cause's; other work is what
	 * throttles a shared group, so it comes before throttling.
	 */
	const std::pair<double, const char *> all[] = {
	    {c.blocked, "stopped or blocked"},
	    {c.other_work, "other work in the cgroup"},
	    {c.steal, "steal by the hypervisor"},
	    {c.throttling, "throttling"},
	    {c.run_queue, "waiting on a run queue"},
	    {c.pressure, "CPU pressure"},
	};
	static constexpr std::size_t causes_proper = 4;
	const char *name = largest_of(all, causes_proper, seconds);
	if (name != nullptr && *seconds >= excess_share * c.excess)
		return name;
	name = largest_of(all, sizeof all / sizeof all[0], seconds);
	if (*seconds < least_cause_share * c.excess)
		return nullptr;
	return name;
}

const char *
verdict_name(Verdict v)
{
	switch (v) {
	case Verdict::ok:
	case Verdict::ok_shared:
		return "ok";
	case Verdict::faster:
		return "faster";
	case Verdict::slower_throttled:
		return "slower-over-throttled";
	case Verdict::slower_contention:
		return "slower-not-throttled";
	case Verdict::unexpected_limit:
		return "unexpected-limit";
	case Verdict::limit_changed:
		return "limit-changed";
	}
	return "";
}

/* "; the largest cause: NAME, S s" for a slow run, or that none is known. */
static std::string
cause_text(const Figures &f)
{
	double seconds = 0;
	const char *name = largest_cause(causes(f), &seconds);
	if (name == nullptr)
		return "; nothing measured accounts for it";
	char text[verdict_text_size];
	std::snprintf(text, sizeof text, "; the largest cause: %s, %.2f s", name, seconds);
	return text;
}

std::string
verdict_text(Verdict v, const Figures &f)
{
	char text[verdict_text_size];
	const double off = percent * (f.wall / expected_seconds(f) - 1);
	switch (v) {
	case Verdict::ok:
		std::snprintf(text, sizeof text, "the limit held: %+.1f %% of the expected time, "
		    "within %.0f %%", off, percent * f.tolerance);
		break;
	case Verdict::ok_shared:
		std::snprintf(text, sizeof text, "the limit held: the cgroup got %.2f CPU of its "
		    "%.2f, and other work in it took %.3f s, so the copies were %.1f %% slower",
		    f.group_usage / f.wall, f.quota_cpus, other_work(f), off);
		break;
	case Verdict::faster:
		std::snprintf(text, sizeof text, "faster than the capacity allows by %.1f %%: "
		    "the limit is not enforced, or is looser than it says", -off);
		break;
	case Verdict::slower_throttled:
		std::snprintf(text, sizeof text, "slower by %.1f %%, explained by throttling (over-throttling): "
		    "the group is held back more than its limit says", off);
		return text + cause_text(f);
	case Verdict::slower_contention:
		std::snprintf(text, sizeof text, "slower by %.1f %%, not explained by throttling: the CPUs "
		    "were busy with other work (contention), or the copies waited", off);
		return text + cause_text(f);
	case Verdict::unexpected_limit:
		std::snprintf(text, sizeof text, "the limit applied is %.3f CPU, not the %.3f CPU "
		    "intended", f.found, f.expect);
		break;
	case Verdict::limit_changed:
		std::snprintf(text, sizeof text, "the limit changed during the check, from %.3f CPU "
		    "to %.3f CPU", f.found, f.found_after);
		break;
	}
	return text;
}
