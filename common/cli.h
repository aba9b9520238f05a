// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_CLI_H
#define CPUSPEND_COMMON_CLI_H

/*
 * The command line the checkers share: the options that run the copies,
 * usage errors with status 2, one line on standard error when a check
 * cannot be made, and where the cpuspend to run is.
 */

#include <cstdio>
#include <string>
#include <vector>

#include <getopt.h>

#include "copies.h"
#include "http.h"

struct Cli {
	const char *name;
	const char *version;
	void (*usage)(std::FILE *out);
};

/* The report as metrics: instead of the table, into a textfile, to a Pushgateway. */
struct MetricsOptions {
	bool print = false;
	std::string textfile;
	std::string push; /* as given */
	HttpUrl gateway;  /* as parsed */
};

inline bool
metrics_wanted(const MetricsOptions &m)
{
	return m.print || !m.textfile.empty() || !m.push.empty();
}

struct CopyOptions {
	static constexpr int default_seconds = 5;
	int copies = 1;
	int seconds = default_seconds;
	double tolerance = 0; /* percent */
	std::string program;
	bool json = false;
	MetricsOptions metrics;
	HttpClient http; /* for a monitor, and the Pushgateway */
};

/* The values getopt_long returns for the shared options; a checker's own follow. */
enum SharedOption {
	option_copies = 1,
	option_seconds,
	option_tolerance,
	option_program,
	option_json,
	option_help,
	option_version,
	option_metrics,
	option_textfile,
	option_push,
	option_ca_file,
	option_bearer_token_file,
	option_basic_auth_file,
	option_timeout,
	option_own,
};

/*
 * Called first: descriptors 0 to 2 that are closed are held open on
 * /dev/null, so that no file the check opens takes one's place, and at
 * exit a report that could not be written out ends the check with status
 * 2 and one line, whatever it would have exited with.
 */
void guard_standard_streams(const Cli &cli);

/* The shared options and then own, ended as getopt_long wants. */
std::vector<option> options_with(const std::vector<option> &own);
/* Takes a shared option, or returns false for one of the checker's own. */
bool shared_option(const Cli &cli, int c, CopyOptions &o);
/*
 * After getopt_long: no operands are taken, and the shared options that
 * exclude each other were not both given.
 */
void no_operands(const Cli &cli, int argc, char *argv[]);
void check_shared_options(const Cli &cli, const CopyOptions &o);

[[noreturn]] void usage_error(const Cli &cli, const char *what, const char *value);
/* One line on standard error and status 2: the check could not be made. */
[[noreturn]] void cannot_check(const Cli &cli, const std::string &why);
/*
 * What cannot_check does before it exits, once the options are read: a
 * check that could not be made still says so where its metrics go.
 */
void on_cannot_check(void (*report)());
int whole_number(const Cli &cli, const char *option, const char *text, int low, int high);
double decimal_number(const Cli &cli, const char *option, const char *text, double low,
    double high);

/*
 * The cpuspend to run: the one given, as the shell finds it, or else the one
 * installed beside this program, or else the one on PATH.
 */
std::string resolve_program(const Cli &cli, const std::string &given);

/* Ends a check that a signal stopped, with 128 plus the signal, as a shell would. */
[[noreturn]] void interrupted(const Cli &cli, int sig, const std::string &detail = "");
/* Ends a check whose copies did not all finish, as its status says. */
[[noreturn]] void copies_stopped(const Cli &cli, const RunEnd &end,
    const std::vector<Copy> &copies);

#endif
