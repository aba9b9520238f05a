/*
 * Preloaded into cpuspend by the tests to make calls fail that never fail
 * on a sound machine.  CPUSPEND_FAULT chooses the fault:
 *   open           fopen of /dev/null fails with EACCES
 *   clock          every clock() reading fails
 *   clock-after-1  the first reading succeeds, the later ones fail
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

clock_t
clock(void)
{
	static int readings;
	clock_t (*real_clock)(void);

	if (fault_is("clock") || (fault_is("clock-after-1") && readings++ >= 1))
		return (clock_t)-1;
	*(void **)&real_clock = dlsym(RTLD_NEXT, "clock");
	return real_clock();
}
