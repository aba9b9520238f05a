// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_MONITOR_VERDICT_H
#define CPUSPEND_CHECK_MONITOR_VERDICT_H

/*
 * When a monitor's figure is final, and whether what it saw is what the
 * copies spent.
 */

#include <string>

/*
 * Readings of the figure after the copies have ended.  The figure is final
 * once it has not been updated for longer than the monitor's interval.  A
 * change no larger than noise is not an update, and neither is one the
 * checker's own processor time accounts for: a monitor of the checker's
 * cgroup sees its readings too.  A figure that passes through the right
 * value on its way to another is still being updated, so only time ends
 * the wait, never the value.
 */
/* A reading: when, the figure, and the checker's own processor time by then. */
struct Point {
	double t, value, own;
};

/* The monitor's update interval, and the largest change that is not an update. */
struct Updates {
	double interval, noise;
};

class Settling {
public:
	/* From when the copies ended, with the figure and the checker's time then. */
	Settling(const Updates &updates, const Point &ended);
	/* One reading; true once the figure is final. */
	bool take(const Point &p);
	[[nodiscard]] bool went_back() const { return went_back_; }

private:
	double interval_, noise_;
	double updated_;          /* when the figure last changed */
	double value_, own_;      /* at that change */
	double previous_;         /* the last reading */
	bool went_back_ = false;
};

enum class MonitorVerdict { accurate, under, over, missing, reset };

struct MonitorFigures {
	double spent = 0;      /* processor seconds of the copies */
	double own = 0;        /* of the checker and its readings while it checked */
	double seen = 0;       /* what the figure grew by */
	bool series = false;   /* the query matched something at the end */
	bool went_back = false;
	double tolerance = 0;  /* a fraction */
};

MonitorVerdict judge(const MonitorFigures &f);
/* How far what was seen is from what was spent, in per cent of the spend. */
double difference_percent(const MonitorFigures &f);
const char *verdict_name(MonitorVerdict v);
std::string verdict_text(MonitorVerdict v, const MonitorFigures &f);

#endif
