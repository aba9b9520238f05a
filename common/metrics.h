// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_METRICS_H
#define CPUSPEND_COMMON_METRICS_H

/*
 * A report as Prometheus metrics, in its text format 0.0.4: gauges in base
 * units, each family with its help and type, every series with the labels
 * of where the check was made.  And the textfile node-exporter reads them
 * from, replaced whole or not at all.
 */

#include <string>
#include <utility>
#include <vector>

#include "origin.h"

using Labels = std::vector<std::pair<std::string, std::string>>;

/* node, and job, task and pod where the origin has them. */
Labels origin_labels(const Origin &o);

class MetricsWriter {
public:
	/* Every series gets labels, before its own. */
	explicit MetricsWriter(Labels labels) : labels_(std::move(labels)) {}
	/* A family of one series. */
	MetricsWriter &gauge(const std::string &name, const char *help, double value);
	/* A family's help and type, for the series that follow. */
	MetricsWriter &family(const std::string &name, const char *help);
	MetricsWriter &series(const std::string &name, const Labels &own, double value);
	[[nodiscard]] const std::string &text() const { return out_; }

private:
	Labels labels_;
	std::string out_;
};

/* The verdict of a check that could not be made. */
constexpr char cannot_check_verdict[] = "cannot-check";

/*
 * A family of a series for each of verdicts and for cannot-check: 1 for
 * the one given, 0 for every other, so that the set of series never
 * changes whatever the verdict.
 */
void verdict_family(MetricsWriter &m, const std::string &name, const char *help,
    const std::vector<std::string> &verdicts, const std::string &given);

/* Seconds since the epoch, now, as a *_timestamp_seconds gauge has it. */
double unix_seconds();

/*
 * Replaces the file name with text: written to a temporary file beside it, flushed
 * to the disk and renamed over it, so that a reader sees the old file or
 * the new one, whole.  "" when done; else why not, with the file left as it was
 * and no temporary file left.
 */
std::string write_textfile(const char *name, const std::string &text);

#endif
