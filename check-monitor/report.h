// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_MONITOR_REPORT_H
#define CPUSPEND_CHECK_MONITOR_REPORT_H

/* What a monitor check found, as a table for people or one JSON object. */

#include <string>
#include <vector>

#include "copies.h"
#include "origin.h"
#include "source.h"
#include "verdict.h"

struct MonitorReport {
	Origin origin;
	std::string source;  /* "prometheus" or "command" */
	std::string where;   /* the server's URL, or the command */
	std::string query;   /* with Prometheus */
	std::string unit;    /* with a command */
	Reading before, after;
	int seconds = 0;
	std::vector<Copy> copies;
	double cgroup_usage = -1; /* the checker's cgroup while the copies ran, or -1 */
	MonitorFigures figures;
	double interval = 0;
	double waited = 0;   /* from the copies' end to the last reading */
	int readings = 0;
	bool settled = false;
	MonitorVerdict verdict = MonitorVerdict::accurate;
};

void print_table(const MonitorReport &r);
void print_json(const MonitorReport &r);
/* The report as metrics, ended at now (seconds since the epoch). */
std::string monitor_metrics(const MonitorReport &r, double now);
/* The metrics of a check that could not be made, now: the monitor was not shown right. */
std::string cannot_check_metrics(const Origin &origin);

#endif
