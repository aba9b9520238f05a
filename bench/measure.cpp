/*
 * Runs the built cpuspend and reports, from the kernel's accounting of each
 * run (wait4 and /proc/PID/io), what a user of the load cares about: how
 * much work a processor second buys, how far past its duration a run goes,
 * what start-up costs, and how much memory a copy holds.
 */

#include "run.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/utsname.h>

static constexpr long long line_bytes = 1001;
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
	const char *const zero[] = {"cpuspend", "-seconds", "0", nullptr};
	for (int i = 0; i < start_up_runs; i++)
		start_up.push_back(run_cpuspend(zero).cpu_seconds);
	std::printf("start-up, a one-line run: %.2f ms of processor time "
	    "(median of %d)\n", median(start_up) * 1e3, start_up_runs);

	const char *const one[] = {"cpuspend", "-seconds", "1", nullptr};
	const char *const five[] = {"cpuspend", "-seconds", "5", nullptr};
	for (const auto &[argv, duration] : {std::pair{one, 1}, std::pair{five, 5}}) {
		std::vector<double> past, rate;
		for (int i = 0; i < timed_runs; i++) {
			const Usage usage = run_cpuspend(argv);
			past.push_back(usage.cpu_seconds - duration);
			/* The reports are shorter than a line, so division drops them. */
			rate.push_back(static_cast<double>(usage.bytes_written / line_bytes) /
			    usage.cpu_seconds);
		}
		std::printf("-seconds %d: %.0f lines per processor second, "
		    "%.2f ms past the duration (median of %d, worst %.2f ms)\n",
		    duration, median(rate), median(past) * 1e3, timed_runs,
		    *std::max_element(past.begin(), past.end()) * 1e3);
	}

	/* A longer run, to show that memory does not grow with the duration. */
	for (const char *const *argv : {zero, five}) {
		std::printf("peak resident memory, %s %s: %ld KiB\n", argv[1], argv[2],
		    run_cpuspend(argv, true).max_rss_kib);
	}
	return 0;
}
