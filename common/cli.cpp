// SPDX-License-Identifier: ISC
#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr int most_copies = 4096;
static constexpr double most_tolerance = 1000; /* percent */
static constexpr int decimal = 10;
/* The status a shell gives for a signal: its number past this. */
static constexpr int signal_status = 128;

static constexpr double least_timeout = 0.001;
static constexpr double most_timeout = 86400;

static const char *exit_name = "";
static void (*cannot_check_report)() = nullptr;

/*
 * As coreutils' close_stdout: a failure to flush, an error met earlier, or
 * one in closing is a lost report.  A close that finds the descriptor
 * closed is none when nothing was to be written.
 */
static void
close_stdout()
{
	int error = 0;
	bool failed = false;
	if (std::fflush(stdout) != 0) {
		error = errno;
		failed = true;
	} else if (std::ferror(stdout) != 0) {
		failed = true;
	}
	if (std::fclose(stdout) != 0 && !failed && errno != EBADF) {
		error = errno;
		failed = true;
	}
	if (!failed)
		return;
	if (error != 0)
		std::fprintf(stderr, "%s: cannot write to standard output: %s\n", exit_name,
		    std::strerror(error));
	else
		std::fprintf(stderr, "%s: cannot write to standard output\n", exit_name);
	_exit(2);
}

void
guard_standard_streams(const Cli &cli)
{
	/* Standard output read-only: whatever is written to it fails, as on the closed descriptor. */
	const int modes[] = {O_RDONLY, O_RDONLY, O_WRONLY};
	for (int fd = 0; fd <= 2; fd++) {
		if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
			continue;
		const int opened = open("/dev/null", modes[fd]);
		if (opened >= 0 && opened != fd)
			close(opened);
	}
	exit_name = cli.name;
	std::atexit(close_stdout);
}

std::vector<option>
options_with(const std::vector<option> &own)
{
	std::vector<option> all = {
	    {"copies", required_argument, nullptr, option_copies},
	    {"seconds", required_argument, nullptr, option_seconds},
	    {"tolerance", required_argument, nullptr, option_tolerance},
	    {"program", required_argument, nullptr, option_program},
	    {"json", no_argument, nullptr, option_json},
	    {"help", no_argument, nullptr, option_help},
	    {"version", no_argument, nullptr, option_version},
	    {"metrics", no_argument, nullptr, option_metrics},
	    {"textfile", required_argument, nullptr, option_textfile},
	    {"push", required_argument, nullptr, option_push},
	    {"ca-file", required_argument, nullptr, option_ca_file},
	    {"bearer-token-file", required_argument, nullptr, option_bearer_token_file},
	    {"basic-auth-file", required_argument, nullptr, option_basic_auth_file},
	    {"timeout", required_argument, nullptr, option_timeout},
	};
	all.insert(all.end(), own.begin(), own.end());
	all.push_back({nullptr, 0, nullptr, 0});
	return all;
}

/* The options of the metrics and of HTTP. */
static bool
output_option(const Cli &cli, int c, CopyOptions &o)
{
	std::string why;
	switch (c) {
	case option_metrics:
		o.metrics.print = true;
		return true;
	case option_textfile:
		if (*optarg == '\0')
			usage_error(cli, "--textfile", optarg);
		o.metrics.textfile = optarg;
		return true;
	case option_push:
		if (!parse_url(optarg, &o.metrics.gateway, &why)) {
			std::fprintf(stderr, "%s: --push %s: %s\n", cli.name, optarg, why.c_str());
			usage_error(cli, nullptr, nullptr);
		}
		o.metrics.push = optarg;
		return true;
	case option_ca_file:
		o.http.ca_file = optarg;
		return true;
	case option_bearer_token_file:
		o.http.bearer_token_file = optarg;
		return true;
	case option_basic_auth_file:
		o.http.basic_auth_file = optarg;
		return true;
	case option_timeout:
		o.http.timeout = decimal_number(cli, "--timeout", optarg, least_timeout, most_timeout);
		return true;
	default:
		return false;
	}
}

bool
shared_option(const Cli &cli, int c, CopyOptions &o)
{
	if (output_option(cli, c, o))
		return true;
	switch (c) {
	case option_copies:
		o.copies = whole_number(cli, "--copies", optarg, 1, most_copies);
		return true;
	case option_seconds:
		o.seconds = whole_number(cli, "--seconds", optarg, 1, INT_MAX);
		return true;
	case option_tolerance:
		o.tolerance = decimal_number(cli, "--tolerance", optarg, 0, most_tolerance);
		return true;
	case option_program:
		o.program = optarg;
		return true;
	case option_json:
		o.json = true;
		return true;
	case option_help:
		cli.usage(stdout);
		std::exit(0);
	case option_version:
		std::printf("%s %s\n", cli.name, cli.version);
		std::exit(0);
	default:
		return false;
	}
}

void
no_operands(const Cli &cli, int argc, char *argv[])
{
	if (optind >= argc)
		return;
	std::fprintf(stderr, "%s: unexpected argument '%s'\n", cli.name, argv[optind]);
	usage_error(cli, nullptr, nullptr);
}

void
check_shared_options(const Cli &cli, const CopyOptions &o)
{
	const char *conflict = nullptr;
	if (o.json && o.metrics.print)
		conflict = "give --json or --metrics, not both";
	else if (!o.http.bearer_token_file.empty() && !o.http.basic_auth_file.empty())
		conflict = "give --bearer-token-file or --basic-auth-file, not both";
	if (conflict != nullptr) {
		std::fprintf(stderr, "%s: %s\n", cli.name, conflict);
		usage_error(cli, nullptr, nullptr);
	}
	/* Credentials that cannot be read are found before a run, not after it. */
	const std::string unreadable = o.metrics.push.empty() ? "" : credentials_problem(o.http);
	if (!unreadable.empty())
		cannot_check(cli, unreadable);
}

void
on_cannot_check(void (*report)())
{
	cannot_check_report = report;
}

void
usage_error(const Cli &cli, const char *what, const char *value)
{
	if (what != nullptr)
		std::fprintf(stderr, "%s: %s: invalid value '%s'\n", cli.name, what, value);
	cli.usage(stderr);
	std::exit(2);
}

void
cannot_check(const Cli &cli, const std::string &why)
{
	std::fprintf(stderr, "%s: %s\n", cli.name, why.c_str());
	/* Once: a report that cannot be made is no reason to try again. */
	void (*report)() = cannot_check_report;
	cannot_check_report = nullptr;
	if (report != nullptr)
		report();
	std::exit(2);
}

int
whole_number(const Cli &cli, const char *option, const char *text, int low, int high)
{
	char *end = nullptr;
	errno = 0;
	const long value = std::strtol(text, &end, decimal);
	if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
		usage_error(cli, option, text);
	return static_cast<int>(value);
}

double
decimal_number(const Cli &cli, const char *option, const char *text, double low, double high)
{
	char *end = nullptr;
	const double value = std::strtod(text, &end);
	if (end == text || *end != '\0' || !(value >= low && value <= high))
		usage_error(cli, option, text);
	return value;
}

static bool
executable(const std::string &path)
{
	struct stat st {};
	return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
	    access(path.c_str(), X_OK) == 0;
}

/* A command as the shell finds it: on PATH, unless its name holds a slash. */
static std::string
find_program(const std::string &command)
{
	if (command.find('/') != std::string::npos)
		return executable(command) ? command : "";
	const char *path = std::getenv("PATH");
	const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
	std::size_t start = 0;
	for (;;) {
		const std::size_t end = std::min(dirs.find(':', start), dirs.size());
		const std::string dir = dirs.substr(start, end - start);
		std::string candidate = (dir.empty() ? "." : dir) + "/" + command;
		if (executable(candidate))
			return candidate;
		if (end == dirs.size())
			return "";
		start = end + 1;
	}
}

std::string
resolve_program(const Cli &cli, const std::string &given)
{
	if (!given.empty()) {
		std::string found = find_program(given);
		if (found.empty())
			cannot_check(cli, given + ": not found, or not an executable file");
		return found;
	}
	char self[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n > 0) {
		std::string beside(self, static_cast<std::size_t>(n));
		beside = beside.substr(0, beside.rfind('/') + 1) + "cpuspend";
		if (executable(beside))
			return beside;
	}
	std::string found = find_program("cpuspend");
	if (found.empty())
		cannot_check(cli, "cpuspend not found beside this program or on PATH");
	return found;
}

void
interrupted(const Cli &cli, int sig, const std::string &detail)
{
	std::fprintf(stderr, "%s: interrupted by signal %d%s\n", cli.name, sig,
	    detail.empty() ? "" : ("; " + detail).c_str());
	std::exit(signal_status + sig);
}

void
copies_stopped(const Cli &cli, const RunEnd &end, const std::vector<Copy> &copies)
{
	if (end.how == RunEnd::cannot_start)
		cannot_check(cli, std::string("cannot start a copy: ") + std::strerror(end.error));
	if (end.how == RunEnd::interrupted)
		interrupted(cli, end.signal, "stopped " + std::to_string(end.stopped) + " running " +
		    (end.stopped == 1 ? "copy" : "copies"));
	const Copy &copy = copies[end.copy];
	const std::string what = WIFSIGNALED(copy.status) ?
	    "was killed by signal " + std::to_string(WTERMSIG(copy.status)) :
	    "exited with status " + std::to_string(WEXITSTATUS(copy.status));
	cannot_check(cli, "copy " + std::to_string(end.copy + 1) + " (pid " +
	    std::to_string(copy.pid) + ") " + what +
	    (end.first_error.empty() ? "" : ": " + end.first_error));
}
