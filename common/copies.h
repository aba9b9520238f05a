// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_COPIES_H
#define CPUSPEND_COMMON_COPIES_H

/*
 * Running copies of cpuspend at once: each in a process group of its own,
 * so that whatever a copy starts is stopped with it; the checker sleeps in
 * the kernel until they end, and takes each one's figures from the kernel
 * as it does.
 */

#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>

struct Copy {
	pid_t pid = -1;
	double started = 0; /* CLOCK_MONOTONIC seconds */
	double ended = 0;
	int status = 0;
	double cpu = 0;      /* processor seconds, from wait4 */
	double waited = -1;  /* seconds on a run queue, from /proc/PID/schedstat, or -1 */
};

struct RunEnd {
	enum How { done, cannot_start, failed, interrupted } how = done;
	int error = 0;           /* cannot_start: errno */
	std::size_t copy = 0;    /* failed: which */
	int signal = 0;          /* interrupted: by which */
	int stopped = 0;         /* copies killed on the way out */
	std::string first_error; /* failed: the first line the copies wrote on standard error */
};

class JsonWriter;
class Progress;
/* The copies as the array "runs" of a report: each one's pid and figures. */
void runs_json(JsonWriter &j, const std::vector<Copy> &copies);

/* The signals a check watches for: SIGCHLD, and those that interrupt it. */
sigset_t watched_signals();

/*
 * Runs "program -seconds S" n times at once, with signals blocked as
 * watched_signals() gives them and the copies given mask, and returns once every copy has ended or
 * the check must stop; no copy, nor anything a copy started, is left
 * running.  A progress given is shown while they run, and erased before
 * this returns.
 */
RunEnd run_copies(const std::string &program, int seconds, const sigset_t &mask,
    std::vector<Copy> &copies, Progress *progress = nullptr);

#endif
