// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_PROCESS_H
#define CPUSPEND_COMMON_PROCESS_H

/*
 * Starting a child process and reading the clocks, as the test harness and
 * the checkers both need them.
 */

#include <csignal>
#include <ctime>

#include <sys/resource.h>
#include <sys/types.h>

double clock_seconds(clockid_t id);

inline double
monotonic_seconds()
{
	return clock_seconds(CLOCK_MONOTONIC);
}

/* User and system time together. */
double cpu_seconds(const rusage &usage);

struct Spawn {
	const char *path;
	char *const *argv;
	char *const *envp;
	int in, out, err;      /* become the child's descriptors 0, 1 and 2 */
	const sigset_t *mask;  /* the child's signal mask */
	bool own_group;        /* a process group of its own, to be stopped whole */
};

/*
 * Forks and executes; the child's signals are reset to their defaults
 * first, so that a handler or an ignored SIGCHLD of the caller does not
 * reach the program.  When the program cannot be run, the child says so on
 * its standard error and exits with 127, as a shell would.  Returns the
 * child's process id, or -1 with errno set.
 */
pid_t spawn(const Spawn &how);

#endif
