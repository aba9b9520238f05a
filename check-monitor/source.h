// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_MONITOR_SOURCE_H
#define CPUSPEND_CHECK_MONITOR_SOURCE_H

/*
 * Where a monitor's cumulative CPU figure comes from: an instant query of
 * a server that speaks the Prometheus HTTP API, an exporter's page read
 * directly, or a command that prints one number.
 */

#include <csignal>
#include <string>

#include "http.h"
#include "scrape.h"

struct Reading {
	bool ok = false;       /* false: the check cannot be made, and error says why */
	std::string error;
	bool series = false;   /* the query matched something */
	double value = 0;      /* seconds; 0 when no series matched */
	double time = 0;       /* of the value, as Unix time */
	int signal = 0;        /* a signal that stopped the reading */
};

/*
 * The figure in a Prometheus API answer: a scalar, or the sum of a vector's
 * series (none: no series); an error object, or anything else, is not one.
 */
Reading parse_prometheus(const std::string &body);

/*
 * Kubernetes' $(NAME) references filled from the environment, as
 * Kubernetes fills them in a container's args and a runtime that leaves
 * them does not; $$ is one $, and an unset name is left as written.
 */
std::string expand_references(const std::string &text);

/* One instant query; the URL's path is the one the API lies under. */
Reading read_prometheus(const HttpClient &client, const HttpUrl &url, const std::string &query);

/* The sum of what selector matches on the page at the URL. */
Reading read_scrape(const HttpClient &client, const HttpUrl &url, const Selector &selector);

/*
 * The number a command's standard output holds, alone but for white space,
 * times scale; false when there is none.
 */
bool parse_output(const std::string &out, double scale, double *value);

struct Command {
	std::string text;
	double scale;   /* of the number it prints, to seconds */
	double timeout; /* seconds */
};

/* The signal mask to give children, and the signals that end a wait, blocked. */
struct Signals {
	sigset_t mask, watched;
};

/*
 * Runs "sh -c command" in a process group of its own and waits for it, for
 * its timeout at most or until a watched signal comes.
 */
Reading read_command(const Command &command, const Signals &signals);

#endif
