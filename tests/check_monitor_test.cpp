// SPDX-License-Identifier: ISC
/*
 * The monitor checker's own logic: Prometheus's answers of each form, as
 * Debian's Prometheus gave them (tests/prometheus, captured by
 * .ci/monitor), exporters' pages and the selectors read on them
 * (tests/exporters), a command's output in each unit, the wait for a final
 * figure on a clock the test moves, and the verdicts.
 */

#include "scrape.h"
#include "source.h"
#include "report.h"
#include "verdict.h"

#include "metrics_page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string
contents(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

std::string
captured(const std::string &name)
{
	return contents(std::string(PROMETHEUS_CAPTURES) + "/" + name + ".json");
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
		const char *host, *port, *path;
		bool tls;
	};
	const Case cases[] = {
	    {"http://127.0.0.1:9090", true, "127.0.0.1", "9090", "", false},
	    {"http://prometheus.monitoring.svc/", true, "prometheus.monitoring.svc", "80", "", false},
	    {"http://h:9090/prometheus/", true, "h", "9090", "/prometheus", false},
	    {"http://[::1]:9090", true, "::1", "9090", "", false},
	    {"https://h", true, "h", "443", "", true},
	    {"https://thanos-querier.openshift-monitoring.svc:9091/", true,
	        "thanos-querier.openshift-monitoring.svc", "9091", "", true},
	    {"https://[::1]:9256/metrics", true, "::1", "9256", "/metrics", true},
	    {"https://user:secret@h", false, "", "", "", false},
	    {"ftp://h", false, "", "", "", false},
	    {"h:9090", false, "", "", "", false},
	    {"http://:9090", false, "", "", "", false},
	    {"http://h:x", false, "", "", "", false},
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
		EXPECT_EQ(url.path, c.path) << c.url;
		EXPECT_EQ(url.tls, c.tls) << c.url;
	}
}

std::string
page(const std::string &name)
{
	return contents(std::string(EXPORTER_CAPTURES) + "/" + name + ".txt");
}

/* The pages as Debian's exporters served them (tests/exporters, captured by .ci/monitor). */
TEST(Scrape, SelectorsOnCapturedPages)
{
	struct Case {
		const char *page, *selector;
		int samples;
		double value;
	};
	const Case cases[] = {
	    {"process-exporter", R"(namedprocess_namegroup_cpu_seconds_total{groupname="cpuspend"})", 2,
	        0.3 + 1.18},
	    {"process-exporter", R"(namedprocess_namegroup_cpu_seconds_total{mode="user"})", 1, 1.18},
	    {"process-exporter", R"({__name__="namedprocess_namegroup_cpu_seconds_total"})", 2,
	        0.3 + 1.18},
	    {"process-exporter", R"(namedprocess_namegroup_cpu_seconds_total{groupname="none"})", 0, 0},
	    {"node-exporter", R"(node_cpu_seconds_total{mode=~"user|system"})", 4,
	        62.25 + 181.75 + 91.11 + 214},
	    {"node-exporter", R"(node_cpu_seconds_total{cpu="1",mode!~"idle|iowait|s.*"})", 3, 214},
	    {"node-exporter", R"(node_cpu_seconds_total {cpu != "0", mode = 'user',})", 1, 214},
	    /* Patterns match whole values, as RE2's do in Prometheus. */
	    {"node-exporter", R"(node_cpu_seconds_total{mode=~"ser"})", 0, 0},
	    {"node-exporter", R"(node_cpu_seconds_total{cpu="0",mode!~"i"})", 8, 4198.54 + 0.65 + 0.44 + 0.08 +
	        62.25 + 181.75},
	    /* Escaped label values, as node-exporter wrote back a textfile's. */
	    {"node-exporter", R"(cpuspend_capture_escapes{path="C:\\dir",quote="say \"hi\""})", 1, 2.5},
	    {"node-exporter", R"(cpuspend_capture_escapes{lines="a\nb"})", 1, 2.5},
	    {"node-exporter", R"(cpuspend_capture_escapes{lines="a\\nb"})", 0, 0},
	    {"node-exporter", R"(node_textfile_mtime_seconds)", 1, 1.796906677e+09},
	    /* Histograms, summaries and their NaN quantiles, left alone unless matched. */
	    {"prometheus", R"(process_cpu_seconds_total)", 1, 0.03},
	    {"prometheus", R"(prometheus_tsdb_compaction_chunk_range_seconds_bucket{le="+Inf"})", 1, 0},
	};
	for (const Case &c : cases) {
		Selector s;
		std::string why;
		ASSERT_TRUE(parse_selector(c.selector, &s, &why)) << c.selector << ": " << why;
		const PageSum sum = sum_selected(page(c.page), s);
		ASSERT_TRUE(sum.ok) << c.page << ": " << sum.error;
		EXPECT_EQ(sum.samples, c.samples) << c.page << " " << c.selector;
		EXPECT_NEAR(sum.value, c.value, 1e-6) << c.page << " " << c.selector;
	}
	Selector nan;
	std::string why;
	ASSERT_TRUE(parse_selector(R"(prometheus_engine_query_duration_seconds{quantile="0.5"})", &nan,
	    &why));
	const PageSum not_finite = sum_selected(page("prometheus"), nan);
	EXPECT_FALSE(not_finite.ok);
	EXPECT_NE(not_finite.error.find("not a finite number"), std::string::npos) << not_finite.error;
}

TEST(Scrape, SelectorsThatAreNotOne)
{
	const char *cases[] = {
	    "", "{}", R"({job=~".*"})", "sum(x)", "rate(x[5m])", "x[5m]", "x offset 5m", "x{a=b}",
	    R"(x{a="b")", R"(x{a="b" c="d"})", R"(x{="b"})", R"(x{a=~"("})", "x + y", R"(x{a<"b"})",
	    R"(x{a!"b"})",
	};
	for (const char *text : cases) {
		Selector s;
		std::string why;
		EXPECT_FALSE(parse_selector(text, &s, &why)) << text;
		EXPECT_NE(why, "") << text;
	}
}

/* The lines of the text format, and of OpenMetrics', beyond what the exporters here served. */
TEST(Scrape, LinesOfTheFormat)
{
	struct Case {
		const char *line;
		bool ok;
		const char *name;
		double value;
		std::size_t labels;
	};
	const double nan = std::nan("");
	const Case cases[] = {
	    {"# HELP x A help text, with \\\\ and \\n.", true, "", 0, 0},
	    {"# TYPE x counter", true, "", 0, 0},
	    {"# EOF", true, "", 0, 0},
	    {"", true, "", 0, 0},
	    {"x 1", true, "x", 1, 0},
	    {"x{} 1 1796906677000", true, "x", 1, 0},
	    {"x{a=\"1\",b=\"2\",} +Inf", true, "x", HUGE_VAL, 2},
	    {"x -Inf", true, "x", -HUGE_VAL, 0},
	    {"x NaN", true, "x", nan, 0},
	    {"x_total{a=\"b\"} 7.5 1796906677.123 # {trace_id=\"4\"} 1 1796906677", true, "x_total", 7.5, 1},
	    {"x:rate_5m\t2e-3", true, "x:rate_5m", 2e-3, 0},
	    {"x", false, "", 0, 0},
	    {"x one", false, "", 0, 0},
	    {"x 1 2 3", false, "", 0, 0},
	    {"x{a=b} 1", false, "", 0, 0},
	    {"x{a=\"b} 1", false, "", 0, 0},
	    {"<html>", false, "", 0, 0},
	    {"{\"status\":\"success\"}", false, "", 0, 0},
	};
	/* The escapes of a label value undone, as node-exporter wrote them. */
	Sample escaped;
	std::string why;
	ASSERT_TRUE(parse_sample_line(
	    R"(cpuspend_capture_escapes{lines="a\nb",path="C:\\dir",quote="say \"hi\""} 2.5)",
	    &escaped, &why)) << why;
	const Labels want = {{"lines", "a\nb"}, {"path", "C:\\dir"}, {"quote", "say \"hi\""}};
	EXPECT_EQ(escaped.labels, want);
	for (const Case &c : cases) {
		Sample s;
		EXPECT_EQ(parse_sample_line(c.line, &s, &why), c.ok) << c.line;
		if (!c.ok) {
			EXPECT_NE(why, "") << c.line;
			continue;
		}
		EXPECT_EQ(s.name, c.name) << c.line;
		EXPECT_EQ(s.labels.size(), c.labels) << c.line;
		if (std::isnan(c.value))
			EXPECT_TRUE(std::isnan(s.value)) << c.line;
		else
			EXPECT_EQ(s.value, c.value) << c.line;
	}
}

}

namespace {

TEST(MonitorMetrics, EveryVerdictOnTheSameSeries)
{
	const struct {
		MonitorVerdict verdict;
		const char *name, *ok;
	} cases[] = {
	    {MonitorVerdict::accurate, "accurate", "1"},
	    {MonitorVerdict::under, "under", "0"},
	    {MonitorVerdict::over, "over", "0"},
	    {MonitorVerdict::missing, "missing", "0"},
	    {MonitorVerdict::reset, "reset", "0"},
	};
	MonitorReport r;
	r.origin = {"n1", "NODE_NAME", "", "", "pod-1"};
	r.figures.spent = 2;
	r.figures.seen = 1.5;
	const std::string labels = "node=\"n1\",pod=\"pod-1\"";
	std::vector<std::string> first;
	for (const auto &c : cases) {
		r.verdict = c.verdict;
		const std::string page = monitor_metrics(r, 1796927255.5);
		const std::vector<std::string> series = series_of(page);
		if (first.empty())
			first = series;
		EXPECT_EQ(series, first) << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_monitor_check_ok{" + labels + "}"), c.ok) << c.name;
		int ones = 0;
		for (const std::string &s : series) {
			if (s.rfind("cpuspend_monitor_check_verdict{", 0) == 0)
				ones += value_of(page, s) == "1" ? 1 : 0;
		}
		EXPECT_EQ(ones, 1) << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_monitor_check_verdict{" + labels + ",verdict=\"" +
		    c.name + "\"}"), "1") << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_monitor_check_difference_ratio{" + labels + "}"),
		    "-0.25");
		EXPECT_EQ(value_of(page, "cpuspend_monitor_check_seen_seconds{" + labels + "}"), "1.5");
		EXPECT_EQ(value_of(page, "cpuspend_monitor_check_spent_seconds{" + labels + "}"), "2");
		if (have_promtool()) {
			EXPECT_EQ(promtool_problems(page), "") << c.name;
		}
	}
	const std::string cannot = cannot_check_metrics(r.origin);
	EXPECT_EQ(value_of(cannot, "cpuspend_monitor_check_ok{" + labels + "}"), "0");
	EXPECT_EQ(value_of(cannot, "cpuspend_monitor_check_verdict{" + labels +
	    ",verdict=\"cannot-check\"}"), "1");
	if (have_promtool()) {
		EXPECT_EQ(promtool_problems(cannot), "");
	}
}

}
