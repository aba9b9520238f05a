// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_WRITE_LOOP_H
#define CPUSPEND_WRITE_LOOP_H

#include <cstdio>

/*
 * Writes lines of 100 copies of "A string! " and a newline to stream until
 * the process has used duration seconds of processor time since the call
 * began, testing the clock once after each whole line.  A duration of zero
 * or less writes exactly one line.  The stream is borrowed: it is never
 * flushed, re-buffered or closed here, and write errors do not end the run.
 *
 * Returns true once the duration has been used, and false if the processor
 * clock could not be read, in which case the duration cannot be measured.
 */
[[nodiscard]] bool run_write_loop(std::FILE *stream, int duration);

#endif
