// SPDX-License-Identifier: ISC
#include "scrape.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

/* A cursor over one line or one selector. */
class Text {
public:
	explicit Text(const std::string &text) : s_(text) {}

	[[nodiscard]] bool done() const { return at_ >= s_.size(); }
	[[nodiscard]] char peek() const { return done() ? '\0' : s_[at_]; }
	[[nodiscard]] std::string rest() const { return s_.substr(at_); }
	[[nodiscard]] std::size_t column() const { return at_ + 1; }

	void
	blanks()
	{
		while (!done() && (s_[at_] == ' ' || s_[at_] == '\t'))
			at_++;
	}

	bool
	take(char c)
	{
		if (peek() != c)
			return false;
		at_++;
		return true;
	}

	/* A name: metric names also take colons. */
	std::string
	name(bool metric)
	{
		const std::size_t start = at_;
		while (!done()) {
			const auto c = static_cast<unsigned char>(s_[at_]);
			const bool first = at_ == start;
			if (!(std::isalpha(c) != 0 || c == '_' || (metric && c == ':') ||
			    (!first && std::isdigit(c) != 0)))
				break;
			at_++;
		}
		return s_.substr(start, at_ - start);
	}

	/* A string quoted with quote, with backslash escapes; false when unclosed. */
	bool
	quoted(char quote, std::string *out)
	{
		if (!take(quote))
			return false;
		out->clear();
		while (!done() && s_[at_] != quote) {
			char c = s_[at_++];
			if (c == '\\' && !done()) {
				c = s_[at_++];
				if (c == 'n')
					c = '\n';
				else if (c == 't')
					c = '\t';
			}
			*out += c;
		}
		return take(quote);
	}

	/* Up to the next blank or the end. */
	std::string
	word()
	{
		const std::size_t start = at_;
		while (!done() && s_[at_] != ' ' && s_[at_] != '\t')
			at_++;
		return s_.substr(start, at_ - start);
	}

private:
	const std::string &s_;
	std::size_t at_ = 0;
};

bool
fail(std::string *why, const std::string &what)
{
	*why = what;
	return false;
}

/* A number as the format writes it: Go's floats, NaN, +Inf and -Inf. */
bool
number(const std::string &text, double *value)
{
	if (text.empty())
		return false;
	char *end = nullptr;
	*value = std::strtod(text.c_str(), &end);
	return *end == '\0';
}

bool
parse_matcher(Text &t, Matcher *m, std::string *why)
{
	t.blanks();
	m->label = t.name(false);
	if (m->label.empty())
		return fail(why, "a label name is missing");
	t.blanks();
	if (t.take('=')) {
		m->op = t.take('~') ? Matcher::matches : Matcher::equal;
	} else if (t.take('!')) {
		if (t.take('='))
			m->op = Matcher::not_equal;
		else if (t.take('~'))
			m->op = Matcher::not_matches;
		else
			return fail(why, "'!' must be followed by '=' or '~'");
	} else {
		return fail(why, "no =, !=, =~ or !~ after " + m->label);
	}
	t.blanks();
	const char quote = t.peek();
	if ((quote != '"' && quote != '\'') || !t.quoted(quote, &m->value))
		return fail(why, "the value of " + m->label + " is not a quoted string");
	if (m->op == Matcher::matches || m->op == Matcher::not_matches) {
		try {
			m->pattern = std::make_shared<std::regex>(m->value, std::regex::ECMAScript);
		} catch (const std::regex_error &e) {
			return fail(why, "the pattern of " + m->label + " is not a regular expression: " +
			    e.what());
		}
	}
	return true;
}

bool
matches_value(const Matcher &m, const std::string &value)
{
	switch (m.op) {
	case Matcher::equal:
		return value == m.value;
	case Matcher::not_equal:
		return value != m.value;
	case Matcher::matches:
		return std::regex_match(value, *m.pattern);
	case Matcher::not_matches:
		return !std::regex_match(value, *m.pattern);
	}
	return false;
}

/* The labels of a sample, after its '{'. */
bool
parse_labels(Text &t, Labels *labels, std::string *why)
{
	for (;;) {
		t.blanks();
		if (t.take('}'))
			return true;
		std::string label = t.name(false);
		std::string value;
		t.blanks();
		if (label.empty() || !t.take('='))
			return fail(why, "a label is not name=\"value\"");
		t.blanks();
		if (!t.quoted('"', &value))
			return fail(why, "the value of " + label + " is not a quoted string");
		labels->emplace_back(std::move(label), std::move(value));
		t.blanks();
		if (t.take('}'))
			return true;
		if (!t.take(','))
			return fail(why, "expected ',' or '}' among the labels");
	}
}

}

bool
parse_selector(const std::string &text, Selector *out, std::string *why)
{
	Text t(text);
	out->matchers.clear();
	t.blanks();
	const std::string metric = t.name(true);
	if (!metric.empty())
		out->matchers.push_back({Matcher::equal, "__name__", metric, nullptr});
	t.blanks();
	if (t.take('{')) {
		for (;;) {
			t.blanks();
			if (t.take('}'))
				break;
			Matcher m;
			if (!parse_matcher(t, &m, why))
				return false;
			out->matchers.push_back(m);
			t.blanks();
			if (t.take('}'))
				break;
			if (!t.take(','))
				return fail(why, "expected ',' or '}' at column " + std::to_string(t.column()));
		}
	}
	t.blanks();
	if (!t.done())
		return fail(why, "not a vector selector: '" + t.rest() + "' is past it; "
		    "--query with --scrape takes a metric name and {label=\"value\"} matchers only");
	/* As in PromQL: a selector must not match every series. */
	for (const Matcher &m : out->matchers) {
		if (!matches_value(m, ""))
			return true;
	}
	return fail(why, "the selector names no metric and every matcher matches an empty label");
}

bool
parse_sample_line(const std::string &line, Sample *out, std::string *why)
{
	out->name.clear();
	out->labels.clear();
	Text t(line);
	t.blanks();
	/* # HELP, # TYPE, # UNIT, # EOF and other comments say nothing of a value. */
	if (t.done() || t.peek() == '#')
		return true;
	out->name = t.name(true);
	if (out->name.empty())
		return fail(why, "no metric name");
	t.blanks();
	if (t.take('{') && !parse_labels(t, &out->labels, why))
		return false;
	t.blanks();
	if (!number(t.word(), &out->value))
		return fail(why, "the value is not a number");
	t.blanks();
	double timestamp = 0;
	if (t.done() || t.peek() == '#')
		return true; /* OpenMetrics puts an exemplar after " # " */
	if (!number(t.word(), &timestamp))
		return fail(why, "the timestamp is not a number");
	t.blanks();
	if (!t.done() && t.peek() != '#')
		return fail(why, "more than a value and a timestamp");
	return true;
}

bool
selects(const Selector &s, const Sample &sample)
{
	for (const Matcher &m : s.matchers) {
		std::string value;
		if (m.label == "__name__") {
			value = sample.name;
		} else {
			for (const auto &[label, v] : sample.labels) {
				if (label == m.label)
					value = v;
			}
		}
		if (!matches_value(m, value))
			return false;
	}
	return true;
}

PageSum
sum_selected(const std::string &page, const Selector &s)
{
	PageSum sum;
	std::size_t start = 0;
	int line_number = 0;
	while (start < page.size()) {
		std::size_t end = page.find('\n', start);
		if (end == std::string::npos)
			end = page.size();
		std::string line = page.substr(start, end - start);
		start = end + 1;
		line_number++;
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		Sample sample;
		std::string why;
		if (!parse_sample_line(line, &sample, &why)) {
			sum.error = "line " + std::to_string(line_number) +
			    " is not in the Prometheus text format: " + why;
			return sum;
		}
		if (sample.name.empty() || !selects(s, sample))
			continue;
		if (!std::isfinite(sample.value)) {
			sum.error = "line " + std::to_string(line_number) + ": " + sample.name +
			    " matches, but its value is not a finite number";
			return sum;
		}
		sum.value += sample.value;
		sum.samples++;
	}
	sum.ok = true;
	return sum;
}
