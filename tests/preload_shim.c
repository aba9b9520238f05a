// SPDX-License-Identifier: ISC
/*
 * Preloaded into cpuspend by the tests.  CPUSPEND_FAULT makes calls fail
 * that never fail on a sound machine:
 *   open           fopen of /dev/null fails with EACCES
 *   clock          every clock() reading fails
 *   clock-after-1  the first reading succeeds, the later ones fail
 * CPUSPEND_CLOCK_SKIP=S moves every clock() reading after the first S
 * seconds ahead, so that a run of a long duration costs only what is left
 * of it past S, while the time still runs on the real processor clock.
 * Anything else, or nothing, passes every call through.
 */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int
fault_is(const char *name)
{
	const char *fault = getenv("CPUSPEND_FAULT");
	return fault != NULL && strcmp(fault, name) == 0;
}

FILE *
fopen(const char *path, const char *mode)
{
	FILE *(*real_fopen)(const char *, const char *);

	if (fault_is("open") && strcmp(path, "/dev/null") == 0) {
		errno = EACCES;
		return NULL;
	}
	*(void **)&real_fopen = dlsym(RTLD_NEXT, "fopen");
	return real_fopen(path, mode);
}

/*
 * The real clock and the skip are looked up at the first reading only, so
 * that the shim adds next to nothing to the cost of a line.
 */
clock_t
clock(void)
{
	static int readings;
	static clock_t (*real_clock)(void);
	static clock_t skip;
	const int first = readings++ == 0;

	if (first) {
		const char *seconds = getenv("CPUSPEND_CLOCK_SKIP");
		*(void **)&real_clock = dlsym(RTLD_NEXT, "clock");
		skip = seconds == NULL ? 0 : (clock_t)(atof(seconds) * CLOCKS_PER_SEC);
	}
	if (fault_is("clock") || (fault_is("clock-after-1") && !first))
		return (clock_t)-1;
	return real_clock() + (first ? 0 : skip);
}
