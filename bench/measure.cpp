// SPDX-License-Identifier: ISC
/*
 * Runs the built cpuspend and reports, from the kernel's accounting of each
 * run (wait4 and /proc/PID), what a user of the load cares about: how
 * much work a processor second buys, how far past its duration a run goes,
 * what start-up costs, and how much memory a copy holds.
 */

#include "launch.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/utsname.h>

static constexpr int start_up_runs = 50;
static constexpr int timed_runs = 3;

static double
median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values[values.size() / 2];
}

static void
print_machine()
{
	char model[256] = "unknown processor";
	if (std::FILE *cpuinfo = std::fopen("/proc/cpuinfo", "r")) {
		char line[256];
		while (std::fgets(line, sizeof line, cpuinfo) != nullptr) {
			if (std::sscanf(line, "model name : %255[^\n]", model) == 1)
				break;
		}
		std::fclose(cpuinfo);
	}
	utsname host{};
	uname(&host);
	std::printf("machine: %s, Linux %s\n", model, host.release);
}

int
main()
{
	print_machine();

	std::vector<double> start_up;
	const Args zero = {"-seconds", "0"};
	for (int i = 0; i < start_up_runs; i++)
		start_up.push_back(run_cpuspend(zero).cpu_seconds);
	std::printf("start-up, a one-line run: %.2f ms of processor time "
	    "(median of %d)\n", median(start_up) * 1e3, start_up_runs);

	const Args five = {"-seconds", "5"};
	for (const auto &[args, duration] : {std::pair{Args{"-seconds", "1"}, 1},
	    std::pair{five, 5}}) {
		std::vector<double> past, rate;
		for (int i = 0; i < timed_runs; i++) {
			const Outcome run = run_cpuspend(args);
			past.push_back(run.cpu_seconds - duration);
			rate.push_back(lines_written(run) / run.cpu_seconds);
		}
		std::printf("-seconds %d: %.0f lines per processor second, "
		    "%.2f ms past the duration (median of %d, worst %.2f ms)\n",
		    duration, median(rate), median(past) * 1e3, timed_runs,
		    *std::max_element(past.begin(), past.end()) * 1e3);
	}

	/*
	 * Peak memory is read from the running program once it is well past
	 * its start-up, late in a short run and in a long one, to show that
	 * memory does not grow with the duration.
	 */
	for (const auto &[args, at] : {std::pair{Args{"-seconds", "1"}, 0.5},
	    std::pair{five, 4.9}}) {
		Child child(args);
		const bool running = child.wait_for_cpu(at);
		std::printf("peak resident memory, %s at %.1f s: %ld KiB\n",
		    describe(args).c_str(), at, running ? child.peak_memory_kib() : -1L);
		child.wait();
	}
	return 0;
}
