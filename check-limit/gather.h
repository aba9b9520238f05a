// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_LIMIT_GATHER_H
#define CPUSPEND_CHECK_LIMIT_GATHER_H

/*
 * Where a report was made, and many reports gathered into one answer: one
 * JSON report a line, as srun or kubectl logs print them, among other lines
 * that are counted and left.
 */

#include <cstdio>
#include <string>
#include <vector>

#include "origin.h"

struct Gathered {
	Origin origin;
	double limit_cpus = -1;
	double capacity = -1;
	double ratio = -1;
	std::string verdict, message;
};

struct Gathering {
	std::vector<Gathered> reports;
	int other_lines = 0; /* lines that were not a report */
};

/* The reports in text; a line's report may follow a prefix such as kubectl's. */
Gathering gather(const std::string &input);

/* A row's name: the node, with the task or the pod where there is one. */
std::string row_name(const Gathered &g);

#endif
