#ifndef CPUSPEND_TESTS_CHILD_H
#define CPUSPEND_TESTS_CHILD_H

/*
 * Runs the built cpuspend as a child process, with its standard output and
 * standard error captured in memory files and its processor time taken from
 * the kernel's accounting.
 */

#include <string>
#include <vector>

#include <sys/types.h>

struct Outcome {
	pid_t pid = -1;
	int exit_status = -1; /* -1 when ended by a signal */
	int signal = 0;
	std::string out;
	std::string err;
	double cpu_seconds = 0; /* user + system, from wait4 */
	long long bytes_written = -1; /* every byte handed to write(2) */
};

struct Launch {
	std::vector<std::string> env; /* NAME=value, ahead of the inherited ones */
	bool empty_argv = false;      /* exec with no argv[0] at all */
};

class Child {
public:
	explicit Child(const std::vector<std::string> &args, const Launch &launch = {});
	~Child();
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	pid_t pid() const { return pid_; }
	/* Processor time used so far; the child may be running or stopped. */
	double cpu_seconds() const;
	/*
	 * Waits until the child has used at least seconds of processor time,
	 * and returns false if it exits first or wall_limit seconds pass.
	 */
	bool wait_for_cpu(double seconds, double wall_limit = 60) const;
	void signal(int sig) const;
	Outcome wait();

private:
	pid_t pid_ = -1;
	int out_fd_ = -1;
	int err_fd_ = -1;
	bool reaped_ = false;
};

Outcome run_cpuspend(const std::vector<std::string> &args, const Launch &launch = {});

/*
 * Lines written to /dev/null: the bytes written less the captured output,
 * in 1001-byte lines.  A part of a line comes out as a fraction.
 */
double lines_written(const Outcome &run);

/* The two reports of a completed run of the process pid. */
std::string start_report(pid_t pid);
std::string finish_report(pid_t pid);

#endif
