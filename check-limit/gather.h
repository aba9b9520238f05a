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

/* The node, and the job, task or pod, where they are known. */
struct Origin {
	std::string node;
	std::string node_from; /* the variable it came from, or "host name" */
	std::string job, task, pod;
};

/*
 * SLURMD_NODENAME where a batch system gives it, else NODE_NAME, which a
 * Kubernetes pod sets from its node's name, else the host name; SLURM_JOB_ID
 * and SLURM_PROCID, and POD_NAME, where set.
 */
Origin origin_from_environment();

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
