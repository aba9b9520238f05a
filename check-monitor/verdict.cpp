// SPDX-License-Identifier: ISC
#include "verdict.h"

#include <cmath>
#include <cstdio>

static constexpr double percent = 100;
static constexpr std::size_t verdict_text_size = 320;

Settling::Settling(const Updates &updates, const Point &ended)
    : interval_(updates.interval), noise_(updates.noise), updated_(ended.t), value_(ended.value),
      own_(ended.own), previous_(ended.value)
{
}

bool
Settling::take(const Point &p)
{
	if (p.value < previous_ - noise_)
		went_back_ = true;
	previous_ = p.value;
	if (std::fabs(p.value - value_) > (p.own - own_) + noise_) {
		updated_ = p.t;
		value_ = p.value;
		own_ = p.own;
	}
	return p.t - updated_ > interval_;
}

MonitorVerdict
judge(const MonitorFigures &f)
{
	if (f.went_back)
		return MonitorVerdict::reset;
	if (!f.series || f.seen == 0)
		return MonitorVerdict::missing;
	const double band = f.tolerance * f.spent;
	if (std::fabs(f.seen - f.spent) <= band || std::fabs(f.seen - f.spent - f.own) <= band)
		return MonitorVerdict::accurate;
	return f.seen < f.spent ? MonitorVerdict::under : MonitorVerdict::over;
}

double
difference_percent(const MonitorFigures &f)
{
	return f.spent > 0 ? percent * (f.seen - f.spent) / f.spent : 0;
}

const char *
verdict_name(MonitorVerdict v)
{
	switch (v) {
	case MonitorVerdict::accurate:
		return "accurate";
	case MonitorVerdict::under:
		return "under";
	case MonitorVerdict::over:
		return "over";
	case MonitorVerdict::missing:
		return "missing";
	case MonitorVerdict::reset:
		return "reset";
	}
	return "";
}

std::string
verdict_text(MonitorVerdict v, const MonitorFigures &f)
{
	char text[verdict_text_size];
	const double off = difference_percent(f);
	switch (v) {
	case MonitorVerdict::accurate:
		if (std::fabs(f.seen - f.spent) <= f.tolerance * f.spent)
			std::snprintf(text, sizeof text, "the monitor saw what the copies spent, %+.1f %%, "
			    "within %.0f %%", off, percent * f.tolerance);
		else
			std::snprintf(text, sizeof text, "the monitor saw what the copies and the checker "
			    "beside them spent, %+.1f %%, within %.0f %%: it watches the checker too",
			    percent * (f.seen - f.spent - f.own) / f.spent, percent * f.tolerance);
		break;
	case MonitorVerdict::under:
		std::snprintf(text, sizeof text, "the monitor saw %.1f %% less than the copies spent: "
		    "it loses what a process spends after its last sample, misses short-lived "
		    "processes, or its query does not match them all", -off);
		break;
	case MonitorVerdict::over:
		std::snprintf(text, sizeof text, "the monitor saw %.1f %% more than the copies spent: "
		    "its query matches other work too, or it counts the same time twice", off);
		break;
	case MonitorVerdict::missing:
		std::snprintf(text, sizeof text, "the monitor saw nothing: %s",
		    f.series ? "the figure never changed, so it does not follow the copies" :
		    "no series matches the query");
		break;
	case MonitorVerdict::reset:
		std::snprintf(text, sizeof text, "the figure went backwards during the check: the "
		    "exporter restarted or the counter was reset, so what it saw cannot be told");
		break;
	}
	return text;
}
