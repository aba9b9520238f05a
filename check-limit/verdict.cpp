// SPDX-License-Identifier: ISC
#include "verdict.h"

#include <algorithm>
#include <cstdio>

double
expected_seconds(const Figures &f)
{
	return f.copies * static_cast<double>(f.seconds) / f.capacity;
}

double
allowed_early(const Figures &f)
{
	const double period_share = f.quota ? f.period / expected_seconds(f) : 0;
	return std::min(f.tolerance, faster_margin + period_share);
}

/*
 * The share of the periods that must have been throttled, and of the time
 * past the expected that the periods must cover, for throttling to explain
 * a slow run.
 */
/* Room for the longest verdict, with its figures. */
static constexpr std::size_t verdict_text_size = 256;

static constexpr double throttled_share = 0.8;
static constexpr double excess_share = 0.5;

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

Verdict
judge(const Figures &f)
{
	const double ratio = f.wall / expected_seconds(f);
	if (ratio < 1 - allowed_early(f))
		return Verdict::faster;
	if (ratio <= 1 + f.tolerance)
		return Verdict::ok;
	return throttling_explains(f) ? Verdict::slower_throttled : Verdict::slower_contention;
}

const char *
verdict_name(Verdict v)
{
	switch (v) {
	case Verdict::ok:
		return "ok";
	case Verdict::faster:
		return "faster";
	case Verdict::slower_throttled:
		return "slower-over-throttled";
	case Verdict::slower_contention:
		return "slower-not-throttled";
	}
	return "";
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
	case Verdict::faster:
		std::snprintf(text, sizeof text, "faster than the capacity allows by %.1f %%: "
		    "the limit is not enforced, or is looser than it says", -off);
		break;
	case Verdict::slower_throttled:
		std::snprintf(text, sizeof text, "slower by %.1f %%, explained by throttling (over-throttling): "
		    "the group is held back more than its limit says", off);
		break;
	case Verdict::slower_contention:
		std::snprintf(text, sizeof text, "slower by %.1f %%, not explained by throttling: the CPUs "
		    "were busy with other work (contention), or the copies waited", off);
		break;
	}
	return text;
}
