// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_REPORT_H
#define CPUSPEND_CHECK_LIMIT_REPORT_H

/* What a check found, as a table for people or one JSON object for machines. */

#include <string>
#include <vector>

#include "cgroup.h"
#include "copies.h"
#include "gather.h"
#include "verdict.h"

struct Report {
	Origin origin;
	Limit limit;
	std::string kernel;
	std::string program;
	Figures figures;
	std::vector<Copy> copies;
	CpuStats used; /* the cgroup's counters while the copies ran */
	Verdict verdict = Verdict::ok;
};

void print_table(const Report &r);
void print_json(const Report &r);
/* The report as metrics, ended at now (seconds since the epoch). */
std::string limit_metrics(const Report &r, double now);
/* The metrics of a check whose copies could not run, now: it did not hold. */
std::string cannot_check_metrics(const Origin &origin, double expect);

/* Gathered reports: a row each, the count of each verdict, and the nodes where it failed. */
void print_gathered_table(const Gathering &g, int expected);
void print_gathered_json(const Gathering &g, int expected);
/* 0 when every report says the limit held, 1 when one does not, 2 when reports are missing. */
int gathered_status(const Gathering &g, int expected);

#endif
