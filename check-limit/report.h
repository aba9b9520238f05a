// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_REPORT_H
#define CPUSPEND_CHECK_LIMIT_REPORT_H

/* What a check found, as a table for people or one JSON object for machines. */

#include <string>
#include <vector>

#include "cgroup.h"
#include "copies.h"
#include "verdict.h"

struct Report {
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

#endif
