// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_REPORT_H
#define CPUSPEND_CHECK_LIMIT_REPORT_H

/* What a check found, as a table for people or one JSON object for machines. */

#include <string>
#include <vector>

#include <sys/types.h>

#include "cgroup.h"
#include "verdict.h"

struct Copy {
	pid_t pid = -1;
	int err_fd = -1;
	double started = 0; /* CLOCK_MONOTONIC seconds */
	double ended = 0;
	int status = 0;
	double cpu = 0; /* processor seconds, from wait4 */
};

struct Report {
	Limit limit;
	std::string kernel;
	std::string program;
	int cpus = 0;
	double capacity = 0;
	Figures figures{};
	std::vector<Copy> copies;
	CpuStats used; /* the cgroup's counters while the copies ran */
	double checker_cpu = 0;
	Verdict verdict = Verdict::ok;
};

/* text as a JSON string: quoted, escaped, and valid UTF-8 whatever it held. */
std::string json_string(const std::string &text);

void print_table(const Report &r);
void print_json(const Report &r);

#endif
