// SPDX-License-Identifier: ISC
/*
 * The timed loop against a processor clock the test scripts.  This binary is
 * linked with --wrap=clock, --wrap=fwrite and --wrap=fputc, so the loop's
 * calls land in the wrappers below: readings come from a script, and every
 * call on the stream under test is recorded before it is passed on.
 */

#include "write_loop.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

extern "C" {
std::clock_t __real_clock();
std::size_t __real_fwrite(const void *, std::size_t, std::size_t, std::FILE *);
int __real_fputc(int, std::FILE *);
std::clock_t __wrap_clock();
std::size_t __wrap_fwrite(const void *, std::size_t, std::size_t, std::FILE *);
int __wrap_fputc(int, std::FILE *);
}

namespace {

constexpr std::clock_t ticks = 1000000;
constexpr std::clock_t failed = static_cast<std::clock_t>(-1);
const std::string fragment = "A string! ";

/* What the loop did, one letter a call: w fragment write, n newline, c clock. */
std::string calls;
std::FILE *watched;
bool scripted;
std::vector<std::clock_t> readings;
std::size_t next_reading;

}

std::clock_t
__wrap_clock()
{
	if (!scripted)
		return __real_clock();
	calls += 'c';
	if (next_reading == readings.size()) {
		ADD_FAILURE() << "the loop read the clock more often than scripted";
		return failed;
	}
	return readings[next_reading++];
}

std::size_t
__wrap_fwrite(const void *data, std::size_t size, std::size_t count,
    std::FILE *stream)
{
	if (stream == watched) {
		const bool is_fragment = size == 1 && count == fragment.size() &&
		    std::string(static_cast<const char *>(data), count) == fragment;
		calls += is_fragment ? 'w' : '?';
	}
	return __real_fwrite(data, size, count, stream);
}

int
__wrap_fputc(int c, std::FILE *stream)
{
	if (stream == watched)
		calls += c == '\n' ? 'n' : '?';
	return __real_fputc(c, stream);
}

namespace {

struct LoopRun {
	bool completed;
	std::string calls;
	std::string bytes;
};

/* Runs the loop on stream with the given clock readings, recording its calls. */
LoopRun
trace_loop(std::FILE *stream, int duration, std::vector<std::clock_t> script)
{
	calls.clear();
	watched = stream;
	readings = std::move(script);
	next_reading = 0;
	scripted = true;
	const bool completed = run_write_loop(stream, duration);
	scripted = false;
	watched = nullptr;
	return LoopRun{completed, calls, ""};
}

/* The same on a memory stream, keeping the bytes the loop wrote. */
LoopRun
run_loop(int duration, std::vector<std::clock_t> script)
{
	char *buffer = nullptr;
	std::size_t size = 0;
	std::FILE *stream = open_memstream(&buffer, &size);
	if (stream == nullptr)
		std::abort();
	LoopRun run = trace_loop(stream, duration, std::move(script));
	std::fclose(stream);
	run.bytes.assign(buffer, size);
	std::free(buffer);
	return run;
}

std::string
repeat(const std::string &s, int times)
{
	std::string out;
	for (int i = 0; i < times; i++)
		out += s;
	return out;
}

/* The calls and bytes of that many whole lines, each followed by a reading. */
std::string
line_calls(int lines)
{
	return repeat(repeat("w", 100) + "nc", lines);
}

std::string
line_bytes(int lines)
{
	return repeat(repeat(fragment, 100) + "\n", lines);
}

struct Case {
	const char *name;
	int duration;
	std::vector<std::clock_t> readings; /* the start reading first */
	int lines;
	bool completed = true; /* false: the clock failed */
};

void
PrintTo(const Case &c, std::ostream *os)
{
	*os << c.name;
}

class WriteLoop : public testing::TestWithParam<Case> {};

TEST_P(WriteLoop, WritesWholeLinesUntilTheDurationIsUsed)
{
	const Case &c = GetParam();
	const LoopRun run = run_loop(c.duration, c.readings);

	EXPECT_EQ(run.completed, c.completed);
	EXPECT_EQ(run.calls, "c" + line_calls(c.lines));
	EXPECT_EQ(run.bytes.size(), 1001u * c.lines);
	EXPECT_EQ(run.bytes, line_bytes(c.lines));
	EXPECT_EQ(next_reading, c.readings.size());
}

constexpr std::clock_t far = 5000000000000; /* about 58 days of ticks */
constexpr std::clock_t int_max_seconds = INT_MAX * ticks;

INSTANTIATE_TEST_SUITE_P(Cases, WriteLoop, testing::Values(
    Case{"ZeroWritesOneLine", 0, {0, 0}, 1},
    Case{"ZeroIgnoresTheClock", 0, {7, 7 + 50 * ticks}, 1},
    Case{"NegativeWritesOneLine", -3, {0, 0}, 1},
    Case{"MostNegativeWritesOneLine", INT_MIN, {0, 1}, 1},
    Case{"ReachingTheDurationExactlyStops", 1,
        {0, ticks / 4, ticks / 2, 3 * ticks / 4, ticks}, 4},
    Case{"OneTickShortGoesOn", 1, {0, ticks - 1, ticks}, 2},
    Case{"ElapsedIsCountedFromTheStartReading", 2,
        {10 * ticks, 11 * ticks, 12 * ticks - 1, 12 * ticks}, 3},
    Case{"OvershootStopsAfterThatLine", 1, {0, 3 * ticks}, 1},
    Case{"ReadingsPastThirtyTwoBits", 3,
        {far, far + 2 * ticks, far + 3 * ticks}, 2},
    Case{"LargestDurationIsReachable", INT_MAX,
        {far, far + int_max_seconds - 1, far + int_max_seconds}, 2},
    Case{"ClockFailingAtTheStartWritesNothing", 5, {failed}, 0, false},
    Case{"ClockFailingLaterEndsAfterThatLine", 5, {0, ticks, failed}, 2, false}),
    [](const testing::TestParamInfo<Case> &param) {
	    return std::string(param.param.name);
    });

TEST(WriteLoopStream, FailingWritesDoNotEndTheRun)
{
	/* A stream open only for reading fails every write. */
	std::FILE *stream = std::fopen("/dev/null", "r");
	ASSERT_NE(stream, nullptr);

	const LoopRun run = trace_loop(stream, 3, {0, ticks, 2 * ticks, 3 * ticks});

	EXPECT_TRUE(std::ferror(stream));
	std::fclose(stream);
	EXPECT_TRUE(run.completed);
	EXPECT_EQ(run.calls, "c" + line_calls(3));
}

}
