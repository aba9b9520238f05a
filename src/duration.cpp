// SPDX-License-Identifier: ISC
#include "duration.h"

#include <climits>
#include <cstdlib>

int
parse_duration(const char *text)
{
	/*
	 * strtol reads what atoi reads, and on overflow returns LONG_MAX or
	 * LONG_MIN instead of an undefined value, so clamping to int is enough
	 * to saturate.
	 */
	const long value = std::strtol(text, nullptr, 10);
	if (value > INT_MAX)
		return INT_MAX;
	if (value < INT_MIN)
		return INT_MIN;
	return static_cast<int>(value);
}
