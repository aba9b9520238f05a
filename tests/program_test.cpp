/*
 * The built program, from outside: its command line, reports, error paths,
 * exit statuses and the processor time its runs take, as the kernel
 * accounts for them.
 */

#include "child.h"
#include "expect.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Args = std::vector<std::string>;

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

TEST(Program, RunLastsItsDurationInProcessorTime)
{
	struct Case {
		Args args;
		bool empty_argv; /* exec with no argv[0] at all */
		double duration;
	};
	const std::vector<Case> cases = {
	    {{"-seconds", "1"}, false, 1},
	    {{"-seconds", "2", "further", "-seconds"}, false, 2},
	    {{}, false, 5},
	    {{}, true, 5},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(describe(c.args) + (c.empty_argv ? " (empty argv)" : ""));
		Launch launch;
		launch.empty_argv = c.empty_argv;
		const Outcome run = run_cpuspend(c.args, launch);
		expect_completed(run);
		EXPECT_GE(run.cpu_seconds, c.duration - 0.001);
		EXPECT_LT(run.cpu_seconds, c.duration + overshoot);
	}
}

TEST(Program, HugeDurationsSaturateInsteadOfWrapping)
{
	/* Wrapped to 32 bits, 4294967297 would be a one-second run. */
	Child child({"-seconds", "4294967297"});
	EXPECT_TRUE(child.wait_for_cpu(1.5)) << "the run ended early";
	child.signal(SIGKILL);
	const Outcome run = child.wait();
	EXPECT_EQ(run.signal, SIGKILL);
}

TEST(Program, PausedTimeDoesNotCount)
{
	Child child({"-seconds", "1"});
	ASSERT_TRUE(child.wait_for_cpu(0.3));
	child.signal(SIGSTOP);
	int status = 0;
	ASSERT_EQ(waitpid(child.pid(), &status, WUNTRACED), child.pid());
	ASSERT_TRUE(WIFSTOPPED(status));
	/* A clock that counted wall-clock time would be past its second here. */
	sleep(2);
	child.signal(SIGCONT);
	const Outcome run = child.wait();
	expect_completed(run);
	EXPECT_GE(run.cpu_seconds, 1 - 0.001);
	EXPECT_LT(run.cpu_seconds, 1 + overshoot);
}

/*
 * Failures the program cannot meet on a sound machine are injected with a
 * preloaded library that makes fopen of /dev/null or clock fail.
 */
Launch
fault(const std::string &what)
{
	Launch launch;
	launch.env = {"LD_PRELOAD=" FAULT_SHIM, "CPUSPEND_FAULT=" + what,
	    "ASAN_OPTIONS=verify_asan_link_order=0"};
	return launch;
}

TEST(Program, UnopenableDeviceIsReportedFirst)
{
	for (const Args &args : std::vector<Args>{{}, {"-seconds", "0"}, {"foo"}}) {
		SCOPED_TRACE(describe(args));
		const Outcome run = run_cpuspend(args, fault("open"));
		EXPECT_EQ(run.exit_status, 1);
		EXPECT_EQ(run.out, "");
		EXPECT_EQ(run.err, "cpuspend: /dev/null: Permission denied\n");
		EXPECT_EQ(lines_written(run), 0);
	}
}

TEST(Program, UnreadableClockFailsTheRun)
{
	/* The clock fails at the start reading, or after the first line. */
	const std::vector<std::pair<std::string, int>> cases = {
	    {"clock", 0}, {"clock-after-1", 1}};
	for (const auto &[what, lines] : cases) {
		SCOPED_TRACE(what);
		const Outcome run = run_cpuspend({"-seconds", "5"}, fault(what));
		EXPECT_EQ(run.exit_status, 1);
		EXPECT_EQ(run.out, start_report(run.pid));
		EXPECT_EQ(run.err, "cpuspend: cannot read the processor clock\n");
		EXPECT_EQ(lines_written(run), lines);
	}
}

TEST(Program, FaultLibraryIsInert)
{
	/* Preloaded with no fault chosen, it changes nothing. */
	const Outcome run = run_cpuspend({"-seconds", "0"}, fault("none"));
	expect_completed(run);
}

}
