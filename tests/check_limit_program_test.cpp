// SPDX-License-Identifier: ISC
/*
 * cpuspend-check-limit run as users run it, without privileges: the usage
 * errors, a program that fails, and the starts that once left copies
 * running or the checker waiting for ever: SIGCHLD ignored, an interrupt
 * while a wrapper that forks runs cpuspend, and more copies than the
 * open-files limit.
 */

#include "launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string checker = CHECK_LIMIT_BINARY;

Outcome
check(const Args &args, const Args &env = {})
{
	Launch launch;
	launch.program = checker;
	launch.env = env;
	return Child(args, launch).wait();
}

/* The checker started by bash, which first runs the commands in prologue. */
Outcome
check_after(const std::string &prologue, const std::string &args)
{
	Launch launch;
	launch.program = "/bin/bash";
	return Child({"-c", prologue + "; exec " + checker + " " + args}, launch).wait();
}

TEST(CheckLimitProgram, UsageErrorsExitTwoWithTheUsage)
{
	const std::vector<Args> cases = {
	    {"--copies", "0"}, {"--copies", "4097"}, {"--copies", "x"}, {"--seconds", "0"},
	    {"--tolerance", "-1"}, {"--expect", "0"}, {"--expect", "-1"}, {"--expect", "1.5.2"},
	    {"--expect", "5mm"}, {"--expect", ""}, {"--expect"}, {"--bogus"}, {"extra"},
	    {"--json=1"},
	};
	for (const Args &args : cases) {
		const Outcome run = check(args);
		EXPECT_EQ(run.exit_status, 2) << describe(checker, args);
		EXPECT_EQ(run.out, "") << describe(checker, args);
		EXPECT_NE(run.err.find("usage: cpuspend-check-limit "), std::string::npos)
		    << describe(checker, args) << ": " << run.err;
	}
}

TEST(CheckLimitProgram, ABadIntendedLimitFromTheEnvironmentIsAUsageError)
{
	for (const char *value : {"abc", "0.5", "500m", "0", "-500"}) {
		const Outcome run = check({"--program", "/bin/true"},
		    {std::string("CPUSPEND_EXPECT_MILLICPUS=") + value});
		EXPECT_EQ(run.exit_status, 2) << value;
		EXPECT_NE(run.err.find("CPUSPEND_EXPECT_MILLICPUS: invalid value"), std::string::npos)
		    << value << ": " << run.err;
	}
}

TEST(CheckLimitProgram, AFailingProgramEndsTheCheckInOneLine)
{
	const Outcome run = check({"--program", "/bin/false", "--copies", "3", "--seconds", "1"});
	EXPECT_EQ(run.exit_status, 2);
	EXPECT_EQ(run.out, "");
	EXPECT_NE(run.err.find(") exited with status 1"), std::string::npos) << run.err;
	EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

/*
 * With SIGCHLD ignored the kernel reaps the copies itself; unless the
 * checker takes SIGCHLD back, it waits for ever and the launch's wall-clock
 * limit ends the test.  /bin/true spends nothing, so the run is fast.
 */
TEST(CheckLimitProgram, SigchldIgnoredAtTheStartDoesNotHang)
{
	const Outcome run = check_after("trap '' CHLD", "--program /bin/true --copies 3 --seconds 1");
	EXPECT_EQ(run.exit_status, 1) << run.err;
	EXPECT_NE(run.out.find("verdict       faster"), std::string::npos) << run.out;
}

TEST(CheckLimitProgram, MoreCopiesThanTheOpenFilesLimit)
{
	const Outcome run = check_after("ulimit -n 32", "--program /bin/true --copies 300 --seconds 1");
	EXPECT_EQ(run.exit_status, 1) << run.err;
	EXPECT_EQ(run.err, "");
}

bool
running(pid_t pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string pid_field, command, state;
	return stat >> pid_field >> command >> state && state != "Z" && state != "X";
}

/*
 * A wrapper that runs cpuspend without exec: killing the copy alone would
 * leave cpuspend running for its whole minute.
 */
TEST(CheckLimitProgram, InterruptStopsWhatAWrapperStarted)
{
	char dir_template[] = "/tmp/cpuspend-wrapper.XXXXXX";
	const std::string dir = mkdtemp(dir_template);
	const std::string wrapper = dir + "/wrapper", pids = dir + "/pids";
	std::ofstream(wrapper) << "#!/bin/sh\n\"" CPUSPEND_BINARY "\" -seconds \"$2\" &\n"
	    "echo $! >>\"" << pids << "\"\nwait\n";
	chmod(wrapper.c_str(), 0755);

	Launch launch;
	launch.program = checker;
	Child child({"--program", wrapper, "--copies", "2", "--seconds", "60"}, launch);
	std::vector<pid_t> started;
	for (int i = 0; i < 1000 && started.size() < 2; i++) {
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
		started.clear();
		std::ifstream in(pids);
		for (pid_t pid; in >> pid;)
			started.push_back(pid);
	}
	ASSERT_EQ(started.size(), 2U) << "the wrapper did not start cpuspend";
	kill(child.pid(), SIGINT);
	const Outcome run = child.wait();
	EXPECT_EQ(run.exit_status, 128 + SIGINT);
	EXPECT_NE(run.err.find("interrupted by signal 2; stopped 2 running copies"),
	    std::string::npos) << run.err;
	for (const pid_t pid : started) {
		for (int i = 0; i < 500 && running(pid); i++)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		EXPECT_FALSE(running(pid)) << "cpuspend " << pid << " left running";
		if (running(pid))
			kill(pid, SIGKILL);
	}
	std::remove(pids.c_str());
	std::remove(wrapper.c_str());
	rmdir(dir.c_str());
}

/* Reports piped to --gather: the status, and the table's last line, whole. */
TEST(CheckLimitProgram, GatheredTableEndsEveryLine)
{
	struct Case {
		const char *what, *reports, *expected;
		int status;
		const char *last_line, *err;
	};
	const char *held = R"({"origin":{"node":"n1"},"limit_cpus":1,"capacity":1,"ratio":1,"verdict":"ok"})";
	const char *slow = R"({"origin":{"node":"n2"},"limit_cpus":1,"capacity":1,"ratio":2,)"
	    R"("verdict":"slower-not-throttled"})";
	const std::string both = std::string(held) + "\n" + slow + "\n";
	const Case cases[] = {
	    {"every node held", held, "1", 0, "1 report of 1 expected: 1 ok\n", ""},
	    {"one node slow", both.c_str(), "2", 1, "the limit did not hold on n2\n", ""},
	    {"one node slow and one missing", both.c_str(), "3", 2,
	        "the limit did not hold on n2\n", "2 of 3 reports expected"},
	};
	for (const Case &c : cases) {
		Launch launch;
		launch.program = "/bin/bash";
		const Outcome run = Child({"-c", "printf '%s\\n' \"$1\" | \"$2\" --gather --reports \"$3\"",
		    "bash", c.reports, checker, c.expected}, launch).wait();
		EXPECT_EQ(run.exit_status, c.status) << c.what << ": " << run.err;
		const std::string &out = run.out;
		EXPECT_GE(out.size(), std::string(c.last_line).size()) << c.what;
		EXPECT_EQ(out.substr(out.size() - std::min(out.size(), std::string(c.last_line).size())),
		    c.last_line) << c.what << ":\n" << out;
		EXPECT_NE(run.err.find(c.err), std::string::npos) << c.what << ": " << run.err;
	}
}

}
