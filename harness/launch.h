// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_HARNESS_LAUNCH_H
#define CPUSPEND_HARNESS_LAUNCH_H

/*
 * Runs the built cpuspend as a child process for the tests and the
 * benchmarks: its standard output and standard error are captured in memory
 * files, and what it cost is taken from the kernel's accounting (wait4 and
 * /proc/PID/io) rather than from anything the program says about itself.
 */

#include <string>
#include <vector>

#include <signal.h>
#include <sys/types.h>

using Args = std::vector<std::string>;

/* Long enough for a loaded machine, short enough to name a hang in seconds. */
constexpr double default_wall_limit = 20;

struct Launch {
	std::vector<std::string> env; /* NAME=value, ahead of the inherited ones */
	bool empty_argv = false;      /* exec with no argv[0] at all */
	/*
	 * Trace the child to read its peak resident memory at its exit stop;
	 * wait4's high-water mark would also count the launcher's memory from
	 * before the exec.  Tracing costs processor time, so it is off unless
	 * asked for.
	 */
	bool measure_memory = false;
	double wall_limit = default_wall_limit; /* seconds, from the start */
};

struct Outcome {
	pid_t pid = -1;
	int exit_status = -1; /* -1 when ended by a signal */
	int signal = 0;
	std::string out;
	std::string err;
	double cpu_seconds = 0;       /* user + system, from wait4 */
	long long bytes_written = -1; /* wchar: every byte handed to write(2) */
	long long write_calls = -1;   /* syscw: every write(2)-like call */
	long max_rss_kib = -1;        /* VmHWM, only when measure_memory */
};

class Child {
public:
	explicit Child(const Args &args, const Launch &launch = {});
	~Child();
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	pid_t pid() const { return pid_; }
	/* Processor time used so far; the child may be running or stopped. */
	double cpu_seconds() const;
	/*
	 * Waits until the child has used at least seconds of processor time,
	 * and returns false if it exits first or the wall-clock limit passes.
	 */
	bool wait_for_cpu(double seconds) const;
	void signal(int sig) const;
	/*
	 * Waits for the child to exit and reaps it.  Past the wall-clock limit
	 * it kills the child and throws, naming the command line.
	 */
	Outcome wait();

private:
	bool await(int flags, siginfo_t &info) const;
	[[noreturn]] void give_up();
	void trace_to_exit(Outcome &outcome);

	std::string command_;
	bool traced_ = false;
	double deadline_ = 0; /* CLOCK_MONOTONIC seconds */
	pid_t pid_ = -1;
	int out_fd_ = -1;
	int err_fd_ = -1;
	bool reaped_ = false;
};

Outcome run_cpuspend(const Args &args, const Launch &launch = {});

/* The command line as a failure shows it, each argument quoted. */
std::string describe(const Args &args);

/*
 * Lines written to /dev/null: the bytes written less the captured output,
 * in 1001-byte lines.  A part of a line comes out as a fraction.
 */
double lines_written(const Outcome &run);

#endif
