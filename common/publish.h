// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_PUBLISH_H
#define CPUSPEND_COMMON_PUBLISH_H

/*
 * Where a check's metrics go: standard output instead of the report
 * (--metrics), a textfile for node-exporter (--textfile), and a
 * Pushgateway (--push), in that order, so that the report is out before
 * anything can fail.
 */

#include <string>

#include "cli.h"
#include "http.h"

/* The group of a Pushgateway that a check's metrics replace. */
struct PushGroup {
	std::string job, instance;
};

/*
 * The path of the group under a Pushgateway's URL:
 * /metrics/job/JOB/instance/INSTANCE, a value that is not plain text
 * given in the base64 form the Pushgateway reads.
 */
std::string push_path(const PushGroup &group);

/* PUTs text to the group; "" when the Pushgateway took it, else why not. */
std::string push_metrics(const HttpClient &client, const HttpUrl &gateway,
    const PushGroup &group, const std::string &text);

/*
 * Prints, writes and pushes the metrics as the options ask; 0, or 2 after
 * one line on standard error for each place they could not reach.
 */
int publish_metrics(const Cli &cli, const CopyOptions &o, const std::string &instance,
    const std::string &text);

#endif
