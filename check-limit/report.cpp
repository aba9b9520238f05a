// SPDX-License-Identifier: ISC
#include "report.h"

#include <cstdio>

std::string
json_string(const std::string &text)
{
	std::string out = "\"";
	const auto byte = [&](std::size_t i) {
		return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
	};
	for (std::size_t i = 0; i < text.size();) {
		const unsigned c = byte(i);
		if (c == '"' || c == '\\') {
			out += '\\';
			out += static_cast<char>(c);
			i++;
			continue;
		}
		if (c < 0x20 || c == 0x7f) {
			char escaped[8];
			std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
			out += escaped;
			i++;
			continue;
		}
		/*
		 * A UTF-8 sequence is copied whole when it is well formed: the
		 * right number of continuation bytes, no overlong form, no
		 * surrogate and nothing past U+10FFFF.  Any other byte becomes
		 * U+FFFD, so that the output is always valid JSON text.
		 */
		const int length = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 :
		    c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
		bool valid = length > 0;
		for (int k = 1; valid && k < length; k++)
			valid = (byte(i + k) & 0xc0) == 0x80;
		if (valid && length >= 3) {
			const unsigned second = byte(i + 1);
			valid = !(c == 0xe0 && second < 0xa0) && !(c == 0xed && second >= 0xa0) &&
			    !(c == 0xf0 && second < 0x90) && !(c == 0xf4 && second >= 0x90);
		}
		if (!valid) {
			out += "\xef\xbf\xbd";
			i++;
			continue;
		}
		out.append(text, i, static_cast<std::size_t>(length));
		i += static_cast<std::size_t>(length);
	}
	return out + "\"";
}

static double
difference(double after, double before)
{
	return after < 0 || before < 0 ? -1 : after - before;
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
		    l.cpus(), l.quota_us, l.period_us, l.source.c_str());
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
	const double usage = difference(r.after.usage, r.before.usage);
	if (usage >= 0)
		std::printf("usage         %.3f s by the cgroup against %.3f s by the copies\n",
		    usage, copies_cpu(r));
	else
		std::printf("usage         not visible; %.3f s by the copies\n", copies_cpu(r));
	const double throttled_time = difference(r.after.throttled_time, r.before.throttled_time);
	if (f.periods >= 0)
		std::printf("throttled     %lld of %lld periods, %.3f s\n", f.throttled, f.periods,
		    throttled_time);
	std::printf("checker       %.3f s of processor time, %.2f %% of the copies'\n",
	    r.checker_cpu, 100 * r.checker_cpu / copies_cpu(r));
	std::printf("verdict       %s: %s\n", verdict_name(r.verdict),
	    verdict_text(r.verdict, f).c_str());
}

/* A number, or null where the figure could not be read. */
static std::string
number(double value, bool known = true)
{
	if (!known)
		return "null";
	char text[32];
	std::snprintf(text, sizeof text, "%.6g", value);
	return text;
}

void
print_json(const Report &r)
{
	const Limit &l = r.limit;
	const Figures &f = r.figures;
	const double expected = expected_seconds(f);
	const double usage = difference(r.after.usage, r.before.usage);
	const bool stats = f.periods >= 0;
	const double throttled_time = difference(r.after.throttled_time, r.before.throttled_time);
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
	    l.quota ? ("{\"cpus\":" + number(l.cpus()) + ",\"quota_us\":" +
		std::to_string(l.quota_us) + ",\"period_us\":" + std::to_string(l.period_us) +
		",\"source\":" + json_string(l.source) + "}").c_str() : "null",
	    r.cpus, f.copies, f.seconds, number(r.capacity).c_str(), runs.c_str(),
	    number(f.wall).c_str(), number(expected).c_str(), number(f.wall / expected).c_str(),
	    number(usage, usage >= 0).c_str(), number(copies_cpu(r)).c_str(),
	    number(static_cast<double>(f.periods), stats).c_str(),
	    number(static_cast<double>(f.throttled), stats).c_str(),
	    number(throttled_time, throttled_time >= 0).c_str(),
	    number(r.checker_cpu).c_str(), number(100 * f.tolerance).c_str(),
	    number(100 * allowed_early(f)).c_str(), json_string(verdict_name(r.verdict)).c_str(),
	    json_string(verdict_text(r.verdict, f)).c_str());
}
