// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_DURATION_H
#define CPUSPEND_DURATION_H

/*
 * Converts the value of -seconds as atoi(3) reads it: leading white space,
 * one optional sign, then decimal digits up to the first other character;
 * no digits give 0.  Unlike atoi, a value outside the range of int
 * saturates at INT_MAX or INT_MIN instead of wrapping.
 */
int parse_duration(const char *text);

#endif
