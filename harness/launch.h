// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_HARNESS_LAUNCH_H
#define CPUSPEND_HARNESS_LAUNCH_H

/*
 * Runs the built cpuspend as a child process for the tests and the
 * benchmarks, with its standard output and standard error captured, and
 * takes what it cost from the kernel's accounting (wait4 and /proc/PID)
 * rather than from anything the program says about itself.
 */

#include <string>
#include <vector>

#include <sys/types.h>

using Args = std::vector<std::string>;

struct Launch {
	std::string program;    /* another program than the cpuspend under test */
	Args env;               /* NAME=value, ahead of the inherited ones */
	bool empty_argv = false; /* exec with no argv[0] at all */
	/* Long enough for a loaded machine, short enough to name a hang. */
	double wall_limit = 20;
};

struct Outcome {
	pid_t pid = -1;
	int exit_status = -1; /* -1 when ended by a signal */
	int signal = 0;
	std::string out, err;
	double cpu_seconds = 0;       /* user + system, from wait4 */
	long long bytes_written = -1; /* wchar: every byte handed to write(2) */
	long long write_calls = -1;   /* syscw: every write(2)-like call */
};

/*
 * Every wait is bounded by the launch's wall-clock limit: past it the child
 * is killed and the wait throws, naming the command line.
 */
class Child {
public:
	explicit Child(const Args &args, const Launch &launch = {});
	~Child();
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	pid_t pid() const { return pid_; }
	/* Processor time used so far, running or stopped. */
	double cpu_seconds() const;
	/* Peak resident memory in KiB so far: VmHWM starts afresh at exec. */
	long peak_memory_kib() const;
	/* Until that much processor time is used (true) or the child exits (false). */
	bool wait_for_cpu(double seconds);
	Outcome wait();

private:
	std::string command_;
	double deadline_; /* CLOCK_MONOTONIC seconds */
	pid_t pid_ = -1;
	int out_fd_, err_fd_;
	bool reaped_ = false;
};

Outcome run_cpuspend(const Args &args, const Launch &launch = {});

/* The command line as a failure shows it, each argument quoted. */
std::string describe(const Args &args);
std::string describe(std::string program, const Args &args);

/* Lines written to /dev/null, from the bytes written less the captured output. */
double lines_written(const Outcome &run);

#endif
