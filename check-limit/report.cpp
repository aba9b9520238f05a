// SPDX-License-Identifier: ISC
#include "report.h"

#include <cstdio>

/*
 * The well-formed UTF-8 sequences, after RFC 3629: the range of the first
 * byte, the range of the second, and the length.  Nothing else is UTF-8:
 * no overlong form, no surrogate, nothing past U+10FFFF.
 */
struct Utf8Form {
	unsigned char first_low, first_high, second_low, second_high;
	std::size_t length;
};
static constexpr Utf8Form utf8_forms[] = {
    {0x00, 0x7f, 0x00, 0x00, 1},
    {0xc2, 0xdf, 0x80, 0xbf, 2},
    {0xe0, 0xe0, 0xa0, 0xbf, 3},
    {0xe1, 0xec, 0x80, 0xbf, 3},
    {0xed, 0xed, 0x80, 0x9f, 3},
    {0xee, 0xef, 0x80, 0xbf, 3},
    {0xf0, 0xf0, 0x90, 0xbf, 4},
    {0xf1, 0xf3, 0x80, 0xbf, 4},
    {0xf4, 0xf4, 0x80, 0x8f, 4},
};
static constexpr unsigned char continuation_low = 0x80;
static constexpr unsigned char continuation_high = 0xbf;
static constexpr char replacement_character[] = "\xef\xbf\xbd";
static constexpr unsigned char delete_character = 0x7f;

/* The length of the well-formed UTF-8 sequence at text[i], or 0. */
static std::size_t
utf8_length(const std::string &text, std::size_t i)
{
	const auto byte = [&](std::size_t k) {
		return k < text.size() ? static_cast<unsigned char>(text[k]) : 0U;
	};
	const auto within = [](unsigned c, unsigned low, unsigned high) {
		return c >= low && c <= high;
	};
	for (const Utf8Form &form : utf8_forms) {
		if (!within(byte(i), form.first_low, form.first_high))
			continue;
		if (form.length > 1 && !within(byte(i + 1), form.second_low, form.second_high))
			return 0;
		for (std::size_t k = 2; k < form.length; k++) {
			if (!within(byte(i + k), continuation_low, continuation_high))
				return 0;
		}
		return form.length;
	}
	return 0;
}

/*
 * Quotes and backslashes are escaped, and so are control characters, as
 * \u00XX.  A well-formed UTF-8 sequence is copied whole; any other byte
 * becomes U+FFFD, so that the output is always valid JSON text.
 */
std::string
json_string(const std::string &text)
{
	std::string out = "\"";
	for (std::size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		const std::size_t length = utf8_length(text, i);
		if (c == '"' || c == '\\') {
			out += '\\';
			out += static_cast<char>(c);
		} else if (c < ' ' || c == delete_character) {
			char escaped[sizeof "\\u0000"];
			std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
			out += escaped;
		} else if (length == 0) {
			out += replacement_character;
		} else {
			out.append(text, i, length);
			i += length;
			continue;
		}
		i++;
	}
	return out + "\"";
}

static double
copies_cpu(const Report &r)
{
	double sum = 0;
	for (const Copy &copy : r.copies)
		sum += copy.cpu;
	return sum;
}

void
print_table(const Report &r)
{
	const Limit &l = r.limit;
	const Figures &f = r.figures;
	if (l.quota)
		std::printf("limit         %.2f CPU: %lld us of every %lld us, from %s\n",
		    quota_cpus(l), l.quota_us, l.period_us, l.source.c_str());
	else
		std::printf("limit         no quota in %d cgroup%s looked at\n", l.levels,
		    l.levels == 1 ? "" : "s");
	std::printf("cgroup        v%d %s, at %s\n", l.version, l.cgroup.c_str(), l.dir.c_str());
	std::printf("allowed CPUs  %d\n", r.cpus);
	std::printf("capacity      %.2f CPU for %d %s of %d s\n", r.capacity, f.copies,
	    f.copies == 1 ? "copy" : "copies", f.seconds);
	std::printf("kernel        %s\n", r.kernel.c_str());
	std::printf("copy      pid  processor       wall\n");
	for (std::size_t i = 0; i < r.copies.size(); i++) {
		const Copy &c = r.copies[i];
		std::printf("%4zu  %7d  %7.3f s  %7.3f s\n", i + 1, static_cast<int>(c.pid),
		    c.cpu, c.ended - c.started);
	}
	const double expected = expected_seconds(f);
	std::printf("group         %.3f s of wall-clock time against %.3f s expected, "
	    "ratio %.3f\n", f.wall, expected, f.wall / expected);
	const double usage = r.used.usage;
	if (usage >= 0)
		std::printf("usage         %.3f s by the cgroup against %.3f s by the copies\n",
		    usage, copies_cpu(r));
	else
		std::printf("usage         not visible; %.3f s by the copies\n", copies_cpu(r));
	if (f.periods >= 0)
		std::printf("throttled     %lld of %lld periods, %.3f s\n", f.throttled, f.periods,
		    r.used.throttled_time);
	std::printf("checker       %.3f s of processor time, %.2f %% of the copies'\n",
	    r.checker_cpu, percent * r.checker_cpu / copies_cpu(r));
	std::printf("verdict       %s: %s\n", verdict_name(r.verdict),
	    verdict_text(r.verdict, f).c_str());
}

/* A number, or null where the figure could not be read. */
static std::string
number(double value, bool known = true)
{
	if (!known)
		return "null";
	char text[sizeof "-1.23456e+308"];
	std::snprintf(text, sizeof text, "%.6g", value);
	return text;
}

void
print_json(const Report &r)
{
	const Limit &l = r.limit;
	const Figures &f = r.figures;
	const double expected = expected_seconds(f);
	const double usage = r.used.usage;
	const bool stats = f.periods >= 0;
	const double throttled_time = r.used.throttled_time;
	std::string runs;
	for (const Copy &c : r.copies) {
		runs += std::string(runs.empty() ? "" : ",") + "{\"pid\":" + std::to_string(c.pid) +
		    ",\"cpu_seconds\":" + number(c.cpu) +
		    ",\"wall_seconds\":" + number(c.ended - c.started) + "}";
	}
	std::printf("{\"version\":%s,\"kernel\":%s,\"program\":%s,"
	    "\"cgroup\":{\"version\":%d,\"path\":%s,\"directory\":%s},"
	    "\"limit\":%s,\"allowed_cpus\":%d,\"copies\":%d,\"seconds\":%d,"
	    "\"capacity\":%s,\"runs\":[%s],\"wall_seconds\":%s,\"expected_seconds\":%s,"
	    "\"ratio\":%s,\"cgroup_usage_seconds\":%s,\"copies_cpu_seconds\":%s,"
	    "\"periods\":%s,\"throttled_periods\":%s,\"throttled_seconds\":%s,"
	    "\"checker_cpu_seconds\":%s,\"tolerance_percent\":%s,"
	    "\"allowed_early_percent\":%s,\"verdict\":%s,\"message\":%s}\n",
	    json_string(CPUSPEND_VERSION).c_str(), json_string(r.kernel).c_str(),
	    json_string(r.program).c_str(), l.version, json_string(l.cgroup).c_str(),
	    json_string(l.dir).c_str(),
	    l.quota ? ("{\"cpus\":" + number(quota_cpus(l)) + ",\"quota_us\":" +
		std::to_string(l.quota_us) + ",\"period_us\":" + std::to_string(l.period_us) +
		",\"source\":" + json_string(l.source) + "}").c_str() : "null",
	    r.cpus, f.copies, f.seconds, number(r.capacity).c_str(), runs.c_str(),
	    number(f.wall).c_str(), number(expected).c_str(), number(f.wall / expected).c_str(),
	    number(usage, usage >= 0).c_str(), number(copies_cpu(r)).c_str(),
	    number(static_cast<double>(f.periods), stats).c_str(),
	    number(static_cast<double>(f.throttled), stats).c_str(),
	    number(throttled_time, throttled_time >= 0).c_str(),
	    number(r.checker_cpu).c_str(), number(percent * f.tolerance).c_str(),
	    number(percent * allowed_early(f)).c_str(), json_string(verdict_name(r.verdict)).c_str(),
	    json_string(verdict_text(r.verdict, f)).c_str());
}
