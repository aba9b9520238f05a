// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_CHECK_MONITOR_SOURCE_H
#define CPUSPEND_CHECK_MONITOR_SOURCE_H

/*
 * Where a monitor's cumulative CPU figure comes from: an instant query of
 * the Prometheus HTTP API, or a command that prints one number.
 */

#include <csignal>
#include <string>

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

/* text with every byte outside RFC 3986's unreserved set percent-encoded. */
std::string percent_encode(const std::string &text);

/*
 * Kubernetes' $(NAME) references filled from the environment, as
 * Kubernetes fills them in a container's args and a runtime that leaves
 * them does not; $$ is one $, and an unset name is left as written.
 */
std::string expand_references(const std::string &text);

struct HttpUrl {
	std::string host, port, prefix; /* prefix: the path the API lies under */
};
/* An http:// URL, or false with why. */
bool parse_url(const std::string &url, HttpUrl *out, std::string *why);

/* One instant query, waiting at most timeout seconds. */
Reading read_prometheus(const HttpUrl &url, const std::string &query, double timeout);

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
