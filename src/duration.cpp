// SPDX-License-Identifier: ISC
#include "duration.h"

#include <climits>

/* The white space of the C locale, the only one this program runs in. */
static bool
is_space(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
	    c == '\r';
}

static bool
is_digit(char c)
{
	return c >= '0' && c <= '9';
}

int
parse_duration(const char *text)
{
	while (is_space(*text))
		text++;

	bool negative = false;
	if (*text == '+' || *text == '-')
		negative = *text++ == '-';

	/*
	 * Accumulate the magnitude in a wider type and stop growing it once it
	 * is past what either end of int can hold; the remaining digits only
	 * confirm that the value saturates.
	 */
	constexpr long long base = 10;
	constexpr long long limit = static_cast<long long>(INT_MAX) + 1;
	long long magnitude = 0;
	for (; is_digit(*text); text++) {
		if (magnitude <= limit)
			magnitude = magnitude * base + (*text - '0');
	}

	if (negative)
		return magnitude >= limit ? INT_MIN : static_cast<int>(-magnitude);
	return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}
