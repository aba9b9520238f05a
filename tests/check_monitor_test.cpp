// SPDX-License-Identifier: ISC
/*
 * The monitor checker's own logic: Prometheus's answers of each form, as
 * Debian's Prometheus gave them (tests/prometheus, captured by
 * .ci/monitor), a command's output in each unit, the wait for a final
 * figure on a clock the test moves, and the verdicts.
 */

#include "source.h"
#include "verdict.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string
captured(const std::string &name)
{
	std::ifstream in(std::string(PROMETHEUS_CAPTURES) + "/" + name + ".json");
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

TEST(ParsePrometheus, EveryFormOfAnswer)
{
	struct Case {
		const char *name;
		bool ok, series;
		double value, time;
		const char *error; /* a part of the message */
	};
	const Case cases[] = {
	    {"scalar", true, true, 0.89, 1796867327.645, ""},
	    {"vector-one", true, true, 0.89, 1796867327.337, ""},
	    {"vector-several", true, true, 0.89, 1796867327.443, ""},
	    {"vector-empty", true, false, 0, 0, ""},
	    {"error", false, false, 0, 0, "Prometheus says: bad_data: invalid parameter \"query\": "
	        "1:67: parse error: unclosed left parenthesis"},
	    {"matrix", false, false, 0, 0, "gives a matrix result"},
	    {"string", false, false, 0, 0, "gives a string result"},
	    {"scalar-nan", false, false, 0, 0, "not a number"},
	};
	for (const Case &c : cases) {
		const Reading r = parse_prometheus(captured(c.name));
		EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.error;
		EXPECT_EQ(r.series, c.series) << c.name;
		EXPECT_NEAR(r.value, c.value, 1e-9) << c.name;
		EXPECT_NEAR(r.time, c.time, 1e-6) << c.name;
		EXPECT_NE(r.error.find(c.error), std::string::npos) << c.name << ": " << r.error;
	}
	for (const char *junk : {"", "<html>502 Bad Gateway</html>", "[1,2]", "{\"status\":\"success\"}"})
		EXPECT_FALSE(parse_prometheus(junk).ok) << junk;
}

TEST(ParseOutput, OneNumberInEachUnit)
{
	struct Case {
		const char *out;
		double scale;
		bool ok;
		double value;
	};
	const Case cases[] = {
	    {"12\n", 1, true, 12},
	    {"  2500 \n", 1e-3, true, 2.5},
	    {"2500000\n", 1e-6, true, 2.5},
	    {"2500000000\n", 1e-9, true, 2.5},
	    {"1.5e3\n", 1e-3, true, 1.5},
	    {"", 1, false, 0},
	    {"\n", 1, false, 0},
	    {"[not set]\n", 1e-9, false, 0},
	    {"12 34\n", 1, false, 0},
	    {"12s\n", 1, false, 0},
	    {"nan\n", 1, false, 0},
	    {"inf\n", 1, false, 0},
	};
	for (const Case &c : cases) {
		double value = 0;
		EXPECT_EQ(parse_output(c.out, c.scale, &value), c.ok) << "'" << c.out << "'";
		EXPECT_DOUBLE_EQ(value, c.value) << "'" << c.out << "'";
	}
}

TEST(Settling, FinalOnlyAfterAnIntervalWithoutAnUpdate)
{
	struct Step {
		double t, value, own;
		bool final = false;
	};
	struct Case {
		const char *what;
		double interval;
		std::vector<Step> steps;
		bool went_back;
	};
	/* Copies ended at t = 100 with the figure at 10, noise 0.01 s. */
	const Case cases[] = {
	    {"a prompt monitor", 1, {{100, 14, 0}, {101, 14, 0}, {101.01, 14, 0, true}}, false},
	    {"a scrape after the copies", 15, {{101, 10, 0}, {110, 10, 0}, {112, 14, 0},
	        {126, 14, 0}, {127.5, 14, 0, true}}, false},
	    /* Through 14, the right value, on its way to 16: only time ends the wait. */
	    {"past the right value", 5, {{101, 14, 0}, {105, 16, 0}, {109, 16, 0},
	        {110.5, 16, 0, true}}, false},
	    {"below the noise", 2, {{100, 14, 0}, {101, 14.005, 0}, {102.5, 14.009, 0, true}}, false},
	    /* The checker's own readings, in a cgroup the monitor follows. */
	    {"the checker's own", 1, {{100, 14, 0.1}, {101, 14.05, 0.15}, {101.5, 14.09, 0.19, true}},
	        false},
	    {"a reset counter", 2, {{101, 14, 0}, {102, 0.5, 0}, {104.5, 0.5, 0, true}}, true},
	};
	for (const Case &c : cases) {
		Settling s({c.interval, 0.01}, {100, 10, 0});
		for (const Step &step : c.steps)
			EXPECT_EQ(s.take({step.t, step.value, step.own}), step.final) << c.what << " at " << step.t;
		EXPECT_EQ(s.went_back(), c.went_back) << c.what;
	}
}

TEST(MonitorVerdict, Table)
{
	struct Case {
		const char *what;
		double seen, own;
		bool series, went_back;
		MonitorVerdict want;
	};
	/* The copies spent 4 s; the tolerance is 5 %, 0.2 s. */
	const Case cases[] = {
	    {"exact", 4, 0.01, true, false, MonitorVerdict::accurate},
	    {"within the band below", 3.81, 0.01, true, false, MonitorVerdict::accurate},
	    {"within the band above", 4.19, 0.01, true, false, MonitorVerdict::accurate},
	    {"with the checker's own", 4.45, 0.3, true, false, MonitorVerdict::accurate},
	    {"lost the last stretch", 3.2, 0.01, true, false, MonitorVerdict::under},
	    {"something else matched", 6, 0.01, true, false, MonitorVerdict::over},
	    {"no series", 0, 0.01, false, false, MonitorVerdict::missing},
	    {"never changed", 0, 0.01, true, false, MonitorVerdict::missing},
	    {"went backwards", 4, 0.01, true, true, MonitorVerdict::reset},
	};
	for (const Case &c : cases) {
		MonitorFigures f;
		f.spent = 4;
		f.tolerance = 0.05;
		f.seen = c.seen;
		f.own = c.own;
		f.series = c.series;
		f.went_back = c.went_back;
		EXPECT_STREQ(verdict_name(judge(f)), verdict_name(c.want)) << c.what;
	}
}

TEST(ExpandReferences, AsKubernetesFillsArgs)
{
	setenv("CPUSPEND_TEST_POD", "job-x7k2p", 1);
	unsetenv("CPUSPEND_TEST_UNSET");
	const std::pair<const char *, const char *> cases[] = {
	    {"{pod=\"$(CPUSPEND_TEST_POD)\"}", "{pod=\"job-x7k2p\"}"},
	    {"$(CPUSPEND_TEST_UNSET)", "$(CPUSPEND_TEST_UNSET)"},
	    {"$$(CPUSPEND_TEST_POD)", "$(CPUSPEND_TEST_POD)"},
	    {"a $$ b", "a $ b"},
	    {"$(", "$("},
	    {"$(bad name)", "$(bad name)"},
	    {"rate(x[5m])", "rate(x[5m])"},
	};
	for (const auto &[text, want] : cases)
		EXPECT_EQ(expand_references(text), want) << text;
}

TEST(Url, EncodingAndParts)
{
	EXPECT_EQ(percent_encode("sum(x{a=\"b c\"})/2~-_."), "sum%28x%7Ba%3D%22b%20c%22%7D%29%2F2~-_.");
	struct Case {
		const char *url;
		bool ok;
		const char *host, *port, *prefix;
	};
	const Case cases[] = {
	    {"http://127.0.0.1:9090", true, "127.0.0.1", "9090", ""},
	    {"http://prometheus.monitoring.svc/", true, "prometheus.monitoring.svc", "80", ""},
	    {"http://h:9090/prometheus/", true, "h", "9090", "/prometheus"},
	    {"http://[::1]:9090", true, "::1", "9090", ""},
	    {"https://h", false, "", "", ""},
	    {"h:9090", false, "", "", ""},
	    {"http://:9090", false, "", "", ""},
	    {"http://h:x", false, "", "", ""},
	};
	for (const Case &c : cases) {
		HttpUrl url;
		std::string why;
		EXPECT_EQ(parse_url(c.url, &url, &why), c.ok) << c.url;
		if (!c.ok) {
			EXPECT_NE(why, "") << c.url;
			continue;
		}
		EXPECT_EQ(url.host, c.host) << c.url;
		EXPECT_EQ(url.port, c.port) << c.url;
		EXPECT_EQ(url.prefix, c.prefix) << c.url;
	}
}

}
