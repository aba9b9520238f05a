// SPDX-License-Identifier: ISC
/*
 * Processor cost of the work and of the program around it.  Google Benchmark
 * times processor time here, which is what cpuspend itself spends.
 */

#include "write_loop.h"
#include "launch.h"

#include <benchmark/benchmark.h>

#include <cstdio>

/* A zero duration is one line, between the start reading and the stop test. */
static void
BM_OneLine(benchmark::State &state)
{
	std::FILE *stream = std::fopen("/dev/null", "w");
	if (stream == nullptr) {
		state.SkipWithError("cannot open /dev/null");
		return;
	}
	for (auto _ : state) {
		if (!run_write_loop(stream, 0))
			state.SkipWithError("cannot read the processor clock");
	}
	std::fclose(stream);
	state.SetBytesProcessed(state.iterations() * 1001);
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OneLine);

/* The whole program for a one-line run: exec, start-up, one line and exit. */
static void
BM_StartUp(benchmark::State &state)
{
	for (auto _ : state)
		state.SetIterationTime(run_cpuspend({"-seconds", "0"}).cpu_seconds);
}
BENCHMARK(BM_StartUp)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
