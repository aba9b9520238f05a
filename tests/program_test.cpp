// SPDX-License-Identifier: ISC
/*
 * The built program, from outside: its command line, reports, error paths,
 * exit statuses, and the processor time and write calls its runs take, as
 * the kernel accounts for them.
 */

#include "expect.h"
#include "launch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Program, RejectsAnyOtherFirstArgument)
{
	const std::vector<Args> cases = {
	    {"foo"}, {""}, {"--seconds"}, {"-Seconds"}, {"-second"}, {"5"},
	    {"-seconds=5"}, {"-secondsx", "1"}, {"-s", "1"}, {"-SECONDS", "1"},
	    {" -seconds", "1"}, {"foo", "-seconds", "1"}, {"-seconds\n", "1"},
	};
	for (const Args &args : cases) {
		SCOPED_TRACE(describe(args));
		expect_rejected(run_cpuspend(args), args[0]);
	}
}

TEST(Program, DurationsOfZeroOrLessFinishAtOnce)
{
	const std::vector<Args> cases = {
	    {"-seconds", "0"}, {"-seconds", "-3"}, {"-seconds", "abc"},
	    {"-seconds", ""}, {"-seconds"}, {"-seconds", "-seconds"},
	    {"-seconds", "0x10"}, {"-seconds", " -0"}, {"-seconds", "0.9"},
	    {"-seconds", "-99999999999999999999"}, {"-seconds", "0", "foo", "-x"},
	};
	for (const Args &args : cases) {
		SCOPED_TRACE(describe(args));
		const Outcome run = run_cpuspend(args);
		expect_completed(run);
		EXPECT_EQ(lines_written(run), 1);
		/* One line costs microseconds; a bound this loose only catches a real run. */
		EXPECT_LT(run.cpu_seconds, 0.5);
	}
}

/* The overshoot allowed: start-up, one line and exit, with room for a slow build. */
constexpr double overshoot = 0.25;
/* Clock readings and the kernel's accounting may round apart by a tick. */
constexpr double rounding = 0.001;

/*
 * Preloads the shim that injects failures or moves the clock ahead.  The
 * sanitizers' runtime is told not to insist on being loaded first.
 */
Launch
preload(const std::vector<std::string> &settings)
{
	Launch launch;
	launch.env = settings;
	launch.env.push_back("LD_PRELOAD=" PRELOAD_SHIM);
	launch.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
	return launch;
}

TEST(Program, RunLastsItsDurationInProcessorTime)
{
	/*
	 * Time is not counted while the run is stopped: a clock that counted
	 * wall-clock time would be past its second before the run resumes.
	 */
	Child child({"-seconds", "1"});
	ASSERT_TRUE(child.wait_for_cpu(0.3));
	kill(child.pid(), SIGSTOP);
	int status = 0;
	ASSERT_EQ(waitpid(child.pid(), &status, WUNTRACED), child.pid());
	ASSERT_TRUE(WIFSTOPPED(status));
	sleep(2);
	kill(child.pid(), SIGCONT);
	const Outcome run = child.wait();
	expect_completed(run);
	EXPECT_GE(run.cpu_seconds, 1 - rounding);
	EXPECT_LT(run.cpu_seconds, 1 + overshoot);
}

TEST(Program, DurationComesFromTheCommandLineOrDefaultsToFive)
{
	/*
	 * The shim moves the clock ahead by all but the last 0.2 s of the
	 * expected duration, so each run costs 0.2 s: a duration one second
	 * longer would cost 1.2 s, and a shorter one would stop at the first
	 * line.
	 */
	constexpr double left = 0.2;
	struct Case {
		Args args;
		bool empty_argv; /* exec with no argv[0] at all */
		int duration;
	};
	const std::vector<Case> cases = {
	    {{"-seconds", "2", "further", "-seconds"}, false, 2},
	    {{}, false, 5},
	    {{}, true, 5},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(describe(c.args) + (c.empty_argv ? " (empty argv)" : ""));
		Launch launch = preload(
		    {"CPUSPEND_CLOCK_SKIP=" + std::to_string(c.duration - left)});
		launch.empty_argv = c.empty_argv;
		const Outcome run = run_cpuspend(c.args, launch);
		expect_completed(run);
		EXPECT_GE(run.cpu_seconds, left - rounding);
		EXPECT_LT(run.cpu_seconds, left + overshoot);
	}
}

TEST(Program, HugeDurationsSaturateInsteadOfWrapping)
{
	/*
	 * Wrapped to 32 bits, 4294967297 would be one second, which the clock,
	 * moved a second ahead, has reached by the first line.
	 */
	Child child({"-seconds", "4294967297"}, preload({"CPUSPEND_CLOCK_SKIP=1"}));
	EXPECT_TRUE(child.wait_for_cpu(0.2)) << "the run ended early";
	kill(child.pid(), SIGKILL);
	const Outcome run = child.wait();
	EXPECT_EQ(run.signal, SIGKILL);
}

TEST(Program, InjectedFailures)
{
	const std::string denied = "cpuspend: /dev/null: Permission denied\n";
	const std::string no_clock = "cpuspend: cannot read the processor clock\n";
	enum Reports { none, start, both };
	struct Case {
		const char *fault;
		Args args;
		int exit_status;
		Reports reports;
		std::string err;
		int lines;
	};
	const std::vector<Case> cases = {
	    /* The device is opened, and found missing, before the arguments are read. */
	    {"open", {}, 1, none, denied, 0},
	    {"open", {"-seconds", "0"}, 1, none, denied, 0},
	    {"open", {"foo"}, 1, none, denied, 0},
	    /* The clock fails at the start reading, or after the first line. */
	    {"clock", {"-seconds", "5"}, 1, start, no_clock, 0},
	    {"clock-after-1", {"-seconds", "5"}, 1, start, no_clock, 1},
	    /* With no fault chosen the shim changes nothing. */
	    {"none", {"-seconds", "0"}, 0, both, "", 1},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(std::string(c.fault) + ": " + describe(c.args));
		const Outcome run = run_cpuspend(c.args,
		    preload({std::string("CPUSPEND_FAULT=") + c.fault}));
		const std::string reports[] = {"", start_report(run.pid),
		    start_report(run.pid) + finish_report(run.pid)};
		EXPECT_EQ(run.exit_status, c.exit_status);
		EXPECT_EQ(run.out, reports[c.reports]);
		EXPECT_EQ(run.err, c.err);
		EXPECT_EQ(lines_written(run), c.lines);
		EXPECT_EQ(run.write_calls, expected_write_calls(run));
	}
}

TEST(Harness, HangingRunFailsNamingItsCommandLine)
{
	Launch launch;
	launch.wall_limit = 0.2;
	Child child({"-seconds", "60"}, launch);
	kill(child.pid(), SIGSTOP);
	try {
		child.wait();
		ADD_FAILURE() << "a stopped run was waited for past its limit";
	} catch (const std::runtime_error &e) {
		EXPECT_NE(std::string(e.what()).find("cpuspend '-seconds' '60'"),
		    std::string::npos) << e.what();
	}
}

}
