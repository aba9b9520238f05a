// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_TESTS_EXPECT_H
#define CPUSPEND_TESTS_EXPECT_H

/* Expectations on a run of the built program, shared by its test suites. */

#include "launch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include <sys/stat.h>

inline std::string
report(const char *format, pid_t pid)
{
	char line[128];
	std::snprintf(line, sizeof line, format, static_cast<int>(pid));
	return line;
}

/* The two reports of a completed run of the process pid. */
inline std::string
start_report(pid_t pid)
{
	return report("Process: %d - Begining to write to file.\n", pid);
}

inline std::string
finish_report(pid_t pid)
{
	return report("Process: %d - Finished.\n", pid);
}

/*
 * The write(2) calls a run makes when every stream keeps the C library's
 * default buffering: the /dev/null stream writes only a full buffer (the
 * device's preferred block size) and the rest at its close, standard output
 * (not a terminal here) writes once at exit, and standard error, which is
 * unbuffered, once for its one message.  A flush, or any other buffering,
 * changes this count and with it the cost of a line.
 */
inline long long
expected_write_calls(const Outcome &run)
{
	struct stat device {};
	if (stat("/dev/null", &device) != 0 || device.st_blksize <= 0)
		return -1;
	const long long block = device.st_blksize;
	const long long bytes = std::llround(lines_written(run)) * 1001;
	return (bytes + block - 1) / block + (run.out.empty() ? 0 : 1) +
	    (run.err.empty() ? 0 : 1);
}

/*
 * A run that starts, writes whole lines and finishes, with nothing on
 * standard error.
 */
inline void
expect_completed(const Outcome &run)
{
	EXPECT_EQ(run.exit_status, 0);
	EXPECT_EQ(run.out, start_report(run.pid) + finish_report(run.pid));
	EXPECT_EQ(run.err, "");
	const double lines = lines_written(run);
	EXPECT_GE(lines, 1);
	EXPECT_EQ(lines, std::floor(lines));
	EXPECT_EQ(run.write_calls, expected_write_calls(run))
	    << "after " << lines << " lines";
}

/* A run turned away for its first argument, before writing anything. */
inline void
expect_rejected(const Outcome &run, const std::string &first)
{
	EXPECT_EQ(run.exit_status, 1);
	EXPECT_EQ(run.out, "");
	EXPECT_EQ(run.err, "Illegal flag: `" + first + "'\n");
	EXPECT_EQ(lines_written(run), 0);
	EXPECT_EQ(run.write_calls, expected_write_calls(run));
}

#endif
