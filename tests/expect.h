#ifndef CPUSPEND_TESTS_EXPECT_H
#define CPUSPEND_TESTS_EXPECT_H

/* Expectations on a run of the built program, shared by its test suites. */

#include "child.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

/* The command line as a test failure shows it, each argument quoted. */
inline std::string
describe(const std::vector<std::string> &args)
{
	std::string text = "cpuspend";
	for (const std::string &arg : args)
		text += " '" + arg + "'";
	return text;
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
	EXPECT_EQ(lines, static_cast<double>(static_cast<long long>(lines)));
}

/* A run turned away for its first argument, before writing anything. */
inline void
expect_rejected(const Outcome &run, const std::string &first)
{
	EXPECT_EQ(run.exit_status, 1);
	EXPECT_EQ(run.out, "");
	EXPECT_EQ(run.err, "Illegal flag: `" + first + "'\n");
	EXPECT_EQ(lines_written(run), 0);
}

#endif
