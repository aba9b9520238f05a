// SPDX-License-Identifier: ISC
#include "duration.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <ostream>
#include <string>

namespace {

struct Conversion {
	const char *text;
	int value;
};

void
PrintTo(const Conversion &c, std::ostream *os)
{
	*os << '"' << c.text << "\" -> " << c.value;
}

class ParseDuration : public testing::TestWithParam<Conversion> {};

TEST_P(ParseDuration, ConvertsLikeAtoiButSaturates)
{
	EXPECT_EQ(parse_duration(GetParam().text), GetParam().value)
	    << "text: \"" << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, ParseDuration, testing::Values(
    Conversion{"5", 5},
    Conversion{"3.9", 3},
    Conversion{"10s", 10},
    Conversion{"+7", 7},
    Conversion{"007", 7},
    Conversion{"0x10", 0},
    Conversion{"abc", 0},
    Conversion{"", 0},
    Conversion{"-2", -2},
    Conversion{"-0", 0},
    Conversion{"-seconds", 0},
    Conversion{" \t\n\v\f\r42", 42},
    Conversion{"  -8 9", -8},
    Conversion{"+", 0},
    Conversion{"-", 0},
    Conversion{"+-3", 0},
    Conversion{"--3", 0},
    Conversion{"- 3", 0},
    Conversion{"\xa0" "3", 0},
    Conversion{"2147483647", INT_MAX},
    Conversion{"2147483648", INT_MAX},
    Conversion{"4294967297", INT_MAX},
    Conversion{"99999999999999999999999999999999", INT_MAX},
    Conversion{"000000000000000000000000000000012", 12},
    Conversion{"-2147483647", -INT_MAX},
    Conversion{"-2147483648", INT_MIN},
    Conversion{"-2147483649", INT_MIN},
    Conversion{"-99999999999999999999999999999999", INT_MIN}),
    [](const testing::TestParamInfo<Conversion> &param) {
	    /* The index keeps names unique; the text's letters make them readable. */
	    std::string name = std::to_string(param.index) + "_";
	    for (const char *p = param.param.text; *p != '\0'; p++)
		    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
	    return name;
    });

}
