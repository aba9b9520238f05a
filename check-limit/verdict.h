// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_VERDICT_H
#define CPUSPEND_CHECK_LIMIT_VERDICT_H

/*
 * Whether the limit in force was the one intended and stayed so, whether a
 * group of copies took the wall-clock time that the capacity it was held
 * to allows, and if not, which way it was off and why.
 */

#include <string>

/*
 * A run may finish a little early for honest reasons: the limit is
 * enforced per period, so the last period's share can be spent at its start
 * rather than its end, and start-up is not part of the duration.  Past one
 * period and this share of the expected time, a faster run always fails.
 */
constexpr double faster_margin = 0.02;

/* How far the limit found may be from the one intended, as a fraction. */
constexpr double expect_margin = 0.01;

/* Fractions are shown as percentages. */
constexpr double percent = 100;

/* Unknown figures are -1. */
struct Figures {
	int copies = 1;
	int seconds = 1;
	double tolerance = 0;    /* a fraction: 0.1 for 10 % */
	int cpus = 1;            /* allowed CPUs */
	double capacity = 1;     /* processors the copies can have */
	bool quota = false;
	double quota_cpus = 0;
	double period = 0;       /* seconds, with a quota */
	double burst = 0;        /* seconds of processor time the limiting cgroup may run ahead */
	double wall = 0;         /* the group's wall-clock time */
	long long periods = -1;  /* enforcement periods while the copies ran */
	long long throttled = -1; /* of which throttled */
	double throttled_time = -1; /* seconds, summed over the CPUs */
	double copies_cpu = 0;   /* processor seconds of the copies */
	double checker_cpu = 0;  /* and of the checker, which shares the limit */
	double group_usage = -1; /* of the cgroup whose limit applies, all its work included */
	double run_queue = -1;   /* seconds each copy waited on a run queue, on average */
	double blocked = -1;     /* the most seconds a copy was neither running nor runnable */
	double pressure = -1;    /* seconds in which some task waited for a CPU */
	double steal = -1;       /* seconds the hypervisor took, per CPU */
	double expect = 0;       /* the limit intended, in processors; 0 when none was given */
	double found = 0;        /* the limit in force: the quota's processors, else the CPUs */
	double found_after = 0;  /* the same, read again after the run */
};

enum class Verdict {
	ok,
	ok_shared,        /* slow, but the cgroup got its quota: other work shared it */
	faster,
	slower_throttled,
	slower_contention,
	unexpected_limit, /* not the limit intended */
	limit_changed,    /* changed while the copies ran */
};

/*
 * The time past the expected, in wall-clock seconds, that each of what the
 * kernel counts can account for, or -1 where it cannot be read.  They
 * overlap: time throttled is also time on a run queue, and under pressure.
 * Throttling, other work and steal are causes; waiting on a run queue and
 * pressure are what a cause does to the copies.  A copy that was stopped,
 * frozen or blocked was neither running nor waiting to run, so that time
 * overlaps none of the others.
 */
struct Causes {
	double excess = 0; /* the wall-clock time past the expected */
	double throttling = -1;
	double other_work = -1;
	double run_queue = -1;
	double blocked = -1;
	double pressure = -1;
	double steal = -1;
};

/*
 * A number of processors as people write them: 2, 0.5, or Kubernetes'
 * 500m; false for anything else, and for none at all.
 */
bool parse_cpus(const std::string &text, double *cpus);

double expected_seconds(const Figures &f);
/* The share of the expected time by which a run may be early without failing. */
double allowed_early(const Figures &f);
/* Processor seconds the cgroup used for other work than the copies and the checker. */
double other_work(const Figures &f);
Verdict judge(const Figures &f);
Causes causes(const Figures &f);
/*
 * A cause below this share of the time past the expected is not named as
 * the largest: it does not say why the run was slow.
 */
constexpr double least_cause_share = 0.1;

/*
 * The name of the largest cause, or nullptr when none accounts for a tenth
 * of the excess; its seconds in *seconds.  The first of stopped time, other
 * work, steal and throttling that accounts for half the excess or more is
 * named before a larger wait, which only says that the copies waited.
 */
const char *largest_cause(const Causes &c, double *seconds);
const char *verdict_name(Verdict v);
std::string verdict_text(Verdict v, const Figures &f);

#endif
