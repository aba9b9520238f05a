// SPDX-License-Identifier: ISC
#include "metrics.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json.h"
#include "process.h"

static constexpr mode_t textfile_mode = 0644;
/* Past this a double no longer holds every whole number. */
static constexpr double whole_most = 9007199254740992;

Labels
origin_labels(const Origin &o)
{
	Labels labels = {{"node", o.node}};
	const std::pair<const char *, const std::string *> optional[] = {
	    {"job", &o.job}, {"task", &o.task}, {"pod", &o.pod},
	};
	for (const auto &[name, value] : optional) {
		if (!value->empty())
			labels.emplace_back(name, *value);
	}
	return labels;
}

/* A label's value: backslash, quote and newline escaped, and UTF-8 whatever it held. */
static std::string
label_value(const std::string &text)
{
	std::string out;
	for (const char c : valid_utf8(text)) {
		if (c == '\\' || c == '"')
			out += '\\';
		if (c == '\n')
			out += "\\n";
		else
			out += c;
	}
	return out;
}

/* The shortest form that reads back as the same double, as Prometheus writes them. */
static std::string
sample_value(double value)
{
	if (std::isnan(value))
		return "NaN";
	if (std::isinf(value))
		return value > 0 ? "+Inf" : "-Inf";
	char text[sizeof "-1.2345678901234567e+308"];
	/* Whole numbers as people write them, 10 rather than 1e+01. */
	if (value == std::trunc(value) && std::fabs(value) < whole_most) {
		std::snprintf(text, sizeof text, "%.0f", value);
		return text;
	}
	for (int digits = 1;; digits++) {
		std::snprintf(text, sizeof text, "%.*g", digits, value);
		if (digits >= std::numeric_limits<double>::max_digits10 ||
		    std::strtod(text, nullptr) == value)
			return text;
	}
}

MetricsWriter &
MetricsWriter::family(const std::string &name, const char *help)
{
	/* Help text is ours: it holds no backslash or newline to escape. */
	out_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
	return *this;
}

MetricsWriter &
MetricsWriter::series(const std::string &name, const Labels &own, double value)
{
	out_ += name;
	const char *separator = "{";
	const Labels *const sets[] = {&labels_, &own};
	for (const Labels *set : sets) {
		for (const auto &[label, text] : *set) {
			out_ += separator + label + "=\"" + label_value(text) + "\"";
			separator = ",";
		}
	}
	if (*separator == ',')
		out_ += "}";
	out_ += " " + sample_value(value) + "\n";
	return *this;
}

MetricsWriter &
MetricsWriter::gauge(const std::string &name, const char *help, double value)
{
	return family(name, help).series(name, {}, value);
}

void
verdict_family(MetricsWriter &m, const std::string &name, const char *help,
    const std::vector<std::string> &verdicts, const std::string &given)
{
	m.family(name, help);
	for (const std::string &verdict : verdicts)
		m.series(name, {{"verdict", verdict}}, verdict == given ? 1 : 0);
	m.series(name, {{"verdict", cannot_check_verdict}}, given == cannot_check_verdict ? 1 : 0);
}

double
unix_seconds()
{
	return clock_seconds(CLOCK_REALTIME);
}

/* Writes all of text to fd, or returns false with errno set. */
static bool
write_all(int fd, const std::string &text)
{
	std::size_t done = 0;
	while (done < text.size()) {
		const ssize_t n = write(fd, text.data() + done, text.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return false;
		done += static_cast<std::size_t>(n);
	}
	return true;
}

static bool
fill(int fd, const std::string &text)
{
	return fchmod(fd, textfile_mode) == 0 && write_all(fd, text) && fsync(fd) == 0;
}

/* So that the rename outlives a crash too; a directory that cannot be synced is no failure. */
static void
sync_directory(const std::string &dir)
{
	const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0)
		return;
	fsync(fd);
	close(fd);
}

/*
 * The temporary file is hidden and lacks the .prom ending, so that
 * node-exporter, which reads only *.prom, never takes a half-written one.
 */
std::string
write_textfile(const char *name, const std::string &text)
{
	const std::string path = name;
	const std::size_t slash = path.rfind('/');
	const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
	const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
	std::string temporary = dir + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
	const int fd = mkostemp(temporary.data(), O_CLOEXEC);
	if (fd < 0)
		return "cannot write " + path + ": " + std::strerror(errno);
	bool done = fill(fd, text);
	int error = errno;
	if (close(fd) != 0 && done) {
		done = false;
		error = errno;
	}
	if (done && rename(temporary.c_str(), path.c_str()) == 0) {
		sync_directory(dir);
		return "";
	}
	if (done)
		error = errno;
	unlink(temporary.c_str());
	return "cannot write " + path + ": " + std::strerror(error);
}
