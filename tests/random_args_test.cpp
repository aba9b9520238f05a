// SPDX-License-Identifier: ISC
/*
 * Many generated command lines against the built program: random bytes, huge
 * and signed numbers, empty strings and missing values.  Each must end with
 * status 0 or 1 and never a signal, with the right output for what it asked.
 * The expected duration comes from strtol, clamped to int, which is an
 * independent statement of the conversion rule.
 */

#include "expect.h"
#include "launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

class Generator {
public:
	explicit Generator(unsigned seed) : rng_(seed) {}

	Args args()
	{
		switch (pick(6)) {
		case 0:
			return {bytes()};
		case 1:
			return {near_flag(), value()};
		case 2:
			return {"-seconds"};
		default:
			Args args = {"-seconds", value()};
			for (int extra = pick(3); extra > 0; extra--)
				args.push_back(pick(2) ? bytes() : value());
			return args;
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

	std::string digits(int n)
	{
		std::string s;
		for (; n > 0; n--)
			s += static_cast<char>('0' + pick(10));
		return s;
	}

	std::string sign()
	{
		const char *signs[] = {"", "-", "+", "-", " -", "\t+"};
		return signs[pick(6)];
	}

	std::string near_flag()
	{
		const char *flags[] = {"--seconds", "-Seconds", "-second", "-seconds ",
		    "seconds", "-seconds\xff", "-", "", "5"};
		return flags[pick(9)];
	}

	std::string value()
	{
		switch (pick(5)) {
		case 0:
			return bytes();
		case 1:
			return sign() + digits(10 + pick(30)); /* huge */
		case 2:
			return sign() + digits(1 + pick(4)) + bytes();
		case 3:
			return "";
		default:
			return "-" + digits(1 + pick(12));
		}
	}

	std::mt19937 rng_;
};

int
expected_duration(const std::string &text)
{
	const long value = std::strtol(text.c_str(), nullptr, 10);
	return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

TEST(RandomArguments, EndCleanlyWithTheRightOutput)
{
	constexpr unsigned seed = 20261209;
	constexpr int cases = 300;
	Generator generate(seed);

	for (int i = 0; i < cases; i++) {
		const Args args = generate.args();
		SCOPED_TRACE("case " + std::to_string(i) + ": " + describe(args));

		Child child(args);
		const bool flag = args[0] == "-seconds";
		const int duration = flag ? expected_duration(args.size() > 1 ? args[1] : "") : 0;
		if (flag && duration > 0) {
			/* A real run: it must keep going well past its start-up. */
			EXPECT_TRUE(child.wait_for_cpu(0.05)) << "ended early";
			child.signal(SIGKILL);
			EXPECT_EQ(child.wait().signal, SIGKILL);
			continue;
		}

		const Outcome run = child.wait();
		EXPECT_EQ(run.signal, 0);
		EXPECT_LT(run.cpu_seconds, 0.5);
		if (flag) {
			expect_completed(run);
			EXPECT_EQ(lines_written(run), 1);
		} else {
			expect_rejected(run, args[0]);
		}
	}
}

}
