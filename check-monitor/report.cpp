// SPDX-License-Identifier: ISC
#include "report.h"

#include <cstdio>
#include <ctime>

#include "json.h"

static constexpr double percent = 100;

/* Unix time as UTC in ISO 8601, to the millisecond. */
static std::string
iso_time(double t)
{
	static constexpr double milli = 1000;
	const auto whole = static_cast<time_t>(t);
	tm utc{};
	gmtime_r(&whole, &utc);
	char text[sizeof "2026-12-10T01:02:03.456Z"];
	char date[sizeof "2026-12-10T01:02:03"];
	std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc);
	std::snprintf(text, sizeof text, "%s.%03dZ", date,
	    static_cast<int>((t - static_cast<double>(whole)) * milli));
	return text;
}

static void
print_reading(const char *label, const Reading &r)
{
	if (r.series)
		std::printf("%-13s %.3f s at %s\n", label, r.value, iso_time(r.time).c_str());
	else
		std::printf("%-13s no series\n", label);
}

void
print_table(const MonitorReport &r)
{
	const MonitorFigures &f = r.figures;
	std::printf("source        %s %s\n", r.source.c_str(), r.where.c_str());
	if (!r.query.empty())
		std::printf("query         %s\n", r.query.c_str());
	else
		std::printf("unit          %s\n", r.unit.c_str());
	print_reading("before", r.before);
	print_reading("after", r.after);
	std::printf("copies        %zu of %d s: %.3f s of processor time\n", r.copies.size(),
	    r.seconds, f.spent);
	if (r.cgroup_usage >= 0)
		std::printf("cgroup        %.3f s used by the checker's cgroup meanwhile\n",
		    r.cgroup_usage);
	std::printf("checker       %.3f s of processor time since the first reading, its "
	    "readings included\n", f.own);
	std::printf("seen          %.3f s\n", f.seen);
	std::printf("difference    %+.3f s, %+.1f %%\n", f.seen - f.spent, difference_percent(f));
	std::printf("waited        %.1f s for the monitor, %d %s, %s\n", r.waited, r.readings,
	    r.readings == 1 ? "reading" : "readings",
	    r.settled ? "until it was unchanged for longer than its interval" :
	    "and it was still changing");
	std::printf("verdict       %s: %s\n", verdict_name(r.verdict),
	    verdict_text(r.verdict, f).c_str());
}

static void
reading_json(JsonWriter &j, const char *key, const Reading &r)
{
	j.open(key)
	    .boolean("series", r.series)
	    .number("value_seconds", r.value, r.series)
	    .number("time", r.time, r.series)
	    .string_or_null("time_utc", r.series ? iso_time(r.time) : "")
	    .close();
}

void
print_json(const MonitorReport &r)
{
	const MonitorFigures &f = r.figures;
	JsonWriter j;
	j.open()
	    .string("version", CPUSPEND_VERSION)
	    .string("source", r.source)
	    .string(r.query.empty() ? "command" : "url", r.where);
	if (!r.query.empty())
		j.string("query", r.query);
	else
		j.string("unit", r.unit);
	reading_json(j, "before", r.before);
	reading_json(j, "after", r.after);
	j.integer("copies", static_cast<long long>(r.copies.size()))
	    .integer("seconds", r.seconds);
	runs_json(j, r.copies);
	j.number("spent_seconds", f.spent)
	    .number("cgroup_usage_seconds", r.cgroup_usage, r.cgroup_usage >= 0)
	    .number("checker_cpu_seconds", f.own)
	    .number("seen_seconds", f.seen)
	    .number("difference_seconds", f.seen - f.spent)
	    .number("difference_percent", difference_percent(f))
	    .number("tolerance_percent", percent * f.tolerance)
	    .number("interval_seconds", r.interval)
	    .number("waited_seconds", r.waited)
	    .integer("readings", r.readings)
	    .boolean("settled", r.settled)
	    .string("verdict", verdict_name(r.verdict))
	    .string("message", verdict_text(r.verdict, f))
	    .close();
	std::printf("%s\n", j.text().c_str());
}
