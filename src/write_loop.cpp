// SPDX-License-Identifier: ISC
#include "write_loop.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

/*
 * The loop is the program's whole load, so its shape is fixed: every line
 * is 100 ten-byte writes, one single-character put and one clock reading.
 * Joining the writes or flushing the stream would change the cost of a
 * line and so the load a run represents.
 */
static constexpr char fragment[] = "A string! ";
static constexpr std::size_t fragment_size = sizeof fragment - 1;
static constexpr int fragments_per_line = 100;

/*
 * clock() reports processor time, user and system together, so that time
 * spent waiting or descheduled does not count towards the duration.  The
 * difference of two readings is taken in clock_t, which is 64 bits wide
 * here, so that durations up to the largest int can be reached.
 */
static constexpr double ticks_per_second = 1000000.0;
static_assert(sizeof(std::clock_t) >= sizeof(std::int64_t),
    "clock_t must hold 64-bit tick counts");
static_assert(CLOCKS_PER_SEC == ticks_per_second,
    "the processor clock counts microseconds");
static constexpr std::clock_t clock_failed = static_cast<std::clock_t>(-1);

static void
write_line(std::FILE *stream)
{
	for (int i = 0; i < fragments_per_line; i++)
		std::fwrite(fragment, 1, fragment_size, stream);
	std::fputc('\n', stream);
}

bool
run_write_loop(std::FILE *stream, int duration)
{
	const std::clock_t start = std::clock();
	if (start == clock_failed)
		return false;

	const double budget = duration;
	double elapsed;
	do {
		write_line(stream);
		/* One reading per line: the stop can overshoot by at most a line. */
		const std::clock_t now = std::clock();
		if (now == clock_failed)
			return false;
		elapsed = static_cast<double>(now - start) / ticks_per_second;
	} while (elapsed < budget);
	return true;
}
