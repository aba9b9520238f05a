// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_PROCESS_H
#define CPUSPEND_COMMON_PROCESS_H

/*
 * Starting a child process, reading what it wrote, waiting for signals and
 * reading the clocks, as the test harness and the checkers all need them.
 */

#include <csignal>
#include <ctime>
#include <string>

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
 * reach the program, and it is killed when the caller dies, so that a
 * caller killed with SIGKILL leaves nothing running.  What the program
 * itself starts is its own to stop.  When the program cannot be run, the child says so on
 * its standard error and exits with 127, as a shell would.  Returns the
 * child's process id, or -1 with errno set.
 */
pid_t spawn(const Spawn &how);

/* All that fd holds from its start: a memory file, or a file of /proc. */
std::string fd_contents(int fd);

/*
 * Sleeps until one of the signals in watched, which the caller has
 * blocked, comes or seconds pass; returns the signal, or 0.
 */
int take_signal(const sigset_t &watched, double seconds);

#endif
