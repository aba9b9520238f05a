// SPDX-License-Identifier: ISC
/*
 * Many generated command lines against the built program: random bytes, huge
 * and signed numbers, empty strings and missing values.  Each must end with
 * status 0 or 1 and never a signal, with the right output for what it asked.
 * The generator builds each value from its parts, so it knows by
 * construction whether the value is above zero (a real run) or not (one
 * line), without converting anything itself.
 */

#include "expect.h"
#include "launch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
	Args args;
	bool runs; /* -seconds with a value above zero */
};

/* A value for -seconds and whether it is above zero. */
struct Value {
	std::string text;
	bool positive;
};

class Generator {
public:
	explicit Generator(unsigned seed) : rng_(seed) {}

	Case next()
	{
		switch (pick(6)) {
		case 0:
			return {{bytes()}, false};
		case 1:
			return {{near_flag(), value().text}, false};
		case 2:
			return {{"-seconds"}, false};
		default:
			const Value v = value();
			Args args = {"-seconds", v.text};
			for (int extra = pick(3); extra > 0; extra--)
				args.push_back(pick(2) ? bytes() : value().text);
			return {args, v.positive};
		}
	}

private:
	int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

	/* Any bytes but NUL, which cannot stand in an argument. */
	std::string bytes()
	{
		std::string s;
		for (int n = pick(16); n > 0; n--)
			s += static_cast<char>(1 + pick(255));
		return s;
	}

	/* Bytes that cannot begin a number: no white space, sign or digit. */
	std::string not_a_number()
	{
		std::string s = bytes();
		if (!s.empty() && (std::string(" \t\n\v\f\r+-").find(s[0]) !=
		    std::string::npos || (s[0] >= '0' && s[0] <= '9')))
			s[0] = 'x';
		return s;
	}

	std::string digits(int n)
	{
		std::string s;
		for (; n > 0; n--)
			s += static_cast<char>('0' + pick(10));
		return s;
	}

	std::string near_flag()
	{
		const char *flags[] = {"--seconds", "-Seconds", "-second", "-seconds ",
		    "seconds", "-seconds\xff", "-", "", "5"};
		return flags[pick(9)];
	}

	Value value()
	{
		const char *signs[] = {"", "-", "+", "-", " -", "\t+", "\n\v ", " \f\r-"};
		switch (pick(5)) {
		case 0:
			return {not_a_number(), false};
		case 1:
		case 2: {
			/* Up to 39 digits, far past either end of int, then anything. */
			const std::string sign = signs[pick(8)];
			const std::string number = digits(1 + pick(pick(2) ? 4 : 39));
			const bool nonzero = number.find_first_not_of('0') != std::string::npos;
			return {sign + number + (pick(2) ? "" : "x" + bytes()),
			    nonzero && sign.find('-') == std::string::npos};
		}
		case 3:
			return {"", false};
		default:
			return {"-" + digits(1 + pick(12)), false};
		}
	}

	std::mt19937 rng_;
};

TEST(RandomArguments, EndCleanlyWithTheRightOutput)
{
	constexpr unsigned seed = 20261209;
	constexpr int cases = 300;
	Generator generate(seed);

	for (int i = 0; i < cases; i++) {
		const Case c = generate.next();
		SCOPED_TRACE("case " + std::to_string(i) + ": " + describe(c.args));

		Child child(c.args);
		if (c.runs) {
			/* A real run: it must keep going well past its start-up. */
			EXPECT_TRUE(child.wait_for_cpu(0.05)) << "ended early";
			kill(child.pid(), SIGKILL);
			EXPECT_EQ(child.wait().signal, SIGKILL);
			continue;
		}

		const Outcome run = child.wait();
		EXPECT_EQ(run.signal, 0);
		EXPECT_LT(run.cpu_seconds, 0.5);
		if (c.args[0] == "-seconds") {
			expect_completed(run);
			EXPECT_EQ(lines_written(run), 1);
		} else {
			expect_rejected(run, c.args[0]);
		}
	}
}

}
