// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_ORIGIN_H
#define CPUSPEND_COMMON_ORIGIN_H

#include <string>

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

#endif
