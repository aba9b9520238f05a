#ifndef CPUSPEND_BENCH_RUN_H
#define CPUSPEND_BENCH_RUN_H

/* One run of the built cpuspend, as the kernel accounted for it. */
struct Usage {
	double cpu_seconds;      /* user + system */
	long max_rss_kib;        /* peak resident set, or -1 if not measured */
	long long bytes_written; /* wchar: every byte handed to write(2) */
	int status;              /* as from wait4 */
};

/*
 * Runs cpuspend with argv (argv[0] first, null-terminated), its output
 * discarded, and measures its peak memory only if asked.
 */
Usage run_cpuspend(const char *const argv[], bool measure_memory = false);

#endif
