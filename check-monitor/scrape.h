// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_MONITOR_SCRAPE_H
#define CPUSPEND_CHECK_MONITOR_SCRAPE_H

/*
 * An exporter read directly: its page in the Prometheus text format
 * (0.0.4, or OpenMetrics' text), and the sum of the samples that a PromQL
 * vector selector matches.
 */

#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "metrics.h"

struct Matcher {
	enum Op { equal, not_equal, matches, not_matches } op = equal;
	std::string label, value;
	std::shared_ptr<std::regex> pattern; /* for matches and not_matches, anchored at both ends */
};

/* A metric name, {label op "value", ...}, or both; __name__ is the name. */
struct Selector {
	std::vector<Matcher> matchers;
};

/* A vector selector and nothing past it, or false with why. */
bool parse_selector(const std::string &text, Selector *out, std::string *why);


struct Sample {
	std::string name;
	Labels labels;
	double value = 0;
};

/* One line of a page: a sample (true), nothing to take (true, name empty), or false with why. */
bool parse_sample_line(const std::string &line, Sample *out, std::string *why);

bool selects(const Selector &s, const Sample &sample);

struct PageSum {
	bool ok = false;     /* false: the page is not in the format, and error says why */
	std::string error;
	int samples = 0;     /* matched */
	double value = 0;
};

PageSum sum_selected(const std::string &page, const Selector &s);

#endif
