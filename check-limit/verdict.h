// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_VERDICT_H
#define CPUSPEND_CHECK_LIMIT_VERDICT_H

/*
 * Whether a group of copies took the wall-clock time that the capacity it
 * was held to allows, and if not, which way it was off.
 */

#include <string>

/*
 * A run may finish a little early for honest reasons: the limit is
 * enforced per period, so the last period's share can be spent at its start
 * rather than its end, and start-up is not part of the duration.  Past one
 * period and this share of the expected time, a faster run always fails.
 */
constexpr double faster_margin = 0.02;

/* Fractions are shown as percentages. */
constexpr double percent = 100;

struct Figures {
	int copies;
	int seconds;
	double tolerance;     /* a fraction: 0.1 for 10 % */
	double capacity;      /* processors */
	bool quota;
	double period;        /* seconds, with a quota */
	double wall;          /* the group's wall-clock time */
	long long periods;    /* enforcement periods while the copies ran, or -1 */
	long long throttled;  /* of which throttled, or -1 */
};

enum class Verdict { ok, faster, slower_throttled, slower_contention };

double expected_seconds(const Figures &f);
/* The share of the expected time by which a run may be early without failing. */
double allowed_early(const Figures &f);
Verdict judge(const Figures &f);
const char *verdict_name(Verdict v);
std::string verdict_text(Verdict v, const Figures &f);

#endif
