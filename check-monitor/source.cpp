// SPDX-License-Identifier: ISC
#include "source.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "process.h"

using Json = nlohmann::json;

static constexpr int http_ok = 200;
static constexpr std::size_t quoted_output_max = 60;

struct ApiSample {
	bool ok = false;
	double value = 0, time = 0;
};

/* A sample's value, which the API gives as a string, "NaN" and "+Inf" among them. */
static ApiSample
sample_value(const Json &sample)
{
	ApiSample s;
	if (!sample.is_array() || sample.size() != 2 || !sample[0].is_number() ||
	    !sample[1].is_string())
		return s;
	const std::string text = sample[1].get<std::string>();
	char *end = nullptr;
	s.value = std::strtod(text.c_str(), &end);
	s.time = sample[0].get<double>();
	s.ok = end != text.c_str() && *end == '\0' && std::isfinite(s.value);
	return s;
}

static Reading
failed(const std::string &why)
{
	Reading r;
	r.error = why;
	return r;
}

Reading
parse_prometheus(const std::string &body)
{
	const Json j = Json::parse(body, nullptr, false);
	if (j.is_discarded() || !j.is_object() || !j.contains("status"))
		return failed("the answer is not from the Prometheus HTTP API");
	if (j["status"] != "success") {
		const auto text = [&](const char *key) {
			return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : "";
		};
		return failed("Prometheus says: " + text("errorType") + ": " + text("error"));
	}
	const Json &data = j.contains("data") ? j["data"] : Json();
	const std::string type = data.contains("resultType") && data["resultType"].is_string() ?
	    data["resultType"].get<std::string>() : "";
	if (!data.contains("result"))
		return failed("the answer holds no result");
	const Json &result = data["result"];
	Reading r;
	if (type == "scalar") {
		const ApiSample s = sample_value(result);
		if (!s.ok)
			return failed("the scalar is not a number");
		r.value = s.value;
		r.time = s.time;
		r.ok = r.series = true;
		return r;
	}
	if (type != "vector" || !result.is_array())
		return failed("the query gives a " + (type.empty() ? std::string("strange") : type) +
		    " result; it must give a scalar or an instant vector");
	for (const Json &series : result) {
		const ApiSample s = series.is_object() && series.contains("value") ?
		    sample_value(series["value"]) : ApiSample{};
		if (!s.ok)
			return failed("a series of the vector has no number as its value");
		r.value += s.value;
		r.time = std::max(r.time, s.time);
		r.series = true;
	}
	r.ok = true;
	return r;
}

static bool
name_character(char c)
{
	return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
}

std::string
expand_references(const std::string &text)
{
	std::string out;
	for (std::size_t i = 0; i < text.size(); i++) {
		if (text.compare(i, 2, "$$") == 0) {
			out += '$';
			i++;
			continue;
		}
		const std::size_t close = text.compare(i, 2, "$(") == 0 ? text.find(')', i) : std::string::npos;
		if (close == std::string::npos) {
			out += text[i];
			continue;
		}
		const std::string name = text.substr(i + 2, close - i - 2);
		bool valid = !name.empty();
		for (const char c : name)
			valid = valid && name_character(c);
		const char *value = valid ? std::getenv(name.c_str()) : nullptr;
		out += value != nullptr ? std::string(value) : text.substr(i, close - i + 1);
		i = close;
	}
	return out;
}

/* What an answer other than the one asked for says, where it is not the body's to say. */
static std::string
http_problem(const HttpClient &client, const HttpUrl &url, const HttpAnswer &answer)
{
	std::string refused = refusal(client, url, answer);
	if (!refused.empty())
		return refused;
	return "HTTP " + std::to_string(answer.status) + " from " + url_origin(url);
}

Reading
read_prometheus(const HttpClient &client, const HttpUrl &url, const std::string &query)
{
	HttpRequest request;
	request.target = url.path + "/api/v1/query?query=" + percent_encode(query);
	request.accept = "application/json";
	const HttpAnswer answer = http_request(client, url, request);
	if (!answer.ok)
		return failed(answer.error);
	std::string refused = refusal(client, url, answer);
	if (!refused.empty())
		return failed(refused);
	Reading r = parse_prometheus(answer.body);
	/* Prometheus's own error object says more than the status code. */
	if (!r.ok && answer.status != http_ok &&
	    r.error.compare(0, sizeof "Prometheus says" - 1, "Prometheus says") != 0)
		r.error = http_problem(client, url, answer) + ": " + r.error;
	return r;
}

Reading
read_scrape(const HttpClient &client, const HttpUrl &url, const Selector &selector)
{
	HttpRequest request;
	request.target = url.path;
	/* As Prometheus asks, OpenMetrics first. */
	request.accept = "application/openmetrics-text;version=1.0.0,"
	    "application/openmetrics-text;version=0.0.1;q=0.75,"
	    "text/plain;version=0.0.4;q=0.5,*/*;q=0.1";
	const HttpAnswer answer = http_request(client, url, request);
	if (!answer.ok)
		return failed(answer.error);
	if (answer.status != http_ok)
		return failed(http_problem(client, url, answer));
	const PageSum sum = sum_selected(answer.body, selector);
	if (!sum.ok)
		return failed("the page of " + url_origin(url) + url.path + ": " + sum.error);
	Reading r;
	r.ok = true;
	r.series = sum.samples > 0;
	r.value = sum.value;
	r.time = clock_seconds(CLOCK_REALTIME);
	return r;
}

bool
parse_output(const std::string &out, double scale, double *value)
{
	const std::size_t first = out.find_first_not_of(" \t\r\n");
	if (first == std::string::npos)
		return false;
	const std::string text = out.substr(first, out.find_last_not_of(" \t\r\n") - first + 1);
	char *end = nullptr;
	const double number = std::strtod(text.c_str(), &end);
	if (end != text.c_str() + text.size() || !std::isfinite(number))
		return false;
	*value = number * scale;
	return true;
}

/* The first line of text, shortened, for a message. */
static std::string
quoted(const std::string &text)
{
	std::string line = text.substr(0, text.find('\n'));
	if (line.size() > quoted_output_max)
		line = line.substr(0, quoted_output_max) + "...";
	return "'" + line + "'";
}

/* Waits for the command; false when the time ran out or a signal came first. */
static bool
wait_command(pid_t pid, int *status, double timeout, const sigset_t &watched, int *signal)
{
	const double deadline = monotonic_seconds() + timeout;
	for (;;) {
		if (waitpid(pid, status, WNOHANG) == pid)
			return true;
		const double left = deadline - monotonic_seconds();
		if (left <= 0)
			return false;
		const int sig = take_signal(watched, left);
		if (sig != 0 && sig != SIGCHLD) {
			*signal = sig;
			return false;
		}
	}
}

Reading
read_command(const Command &command, const Signals &signals)
{
	const int out_fd = memfd_create("stdout", MFD_CLOEXEC);
	const int err_fd = memfd_create("stderr", MFD_CLOEXEC);
	const int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
	Reading r;
	std::string sh = "sh";
	std::string c = "-c";
	std::string text = command.text;
	char *const argv[] = {sh.data(), c.data(), text.data(), nullptr};
	const pid_t pid = out_fd < 0 || err_fd < 0 || in_fd < 0 ? -1 :
	    spawn({"/bin/sh", argv, environ, in_fd, out_fd, err_fd, &signals.mask, true});
	int status = 0;
	if (pid < 0) {
		r.error = std::string("cannot run the command: ") + std::strerror(errno);
	} else if (!wait_command(pid, &status, command.timeout, signals.watched, &r.signal)) {
		kill(-pid, SIGKILL);
		waitpid(pid, nullptr, 0);
		r.error = "the command did not finish within " +
		    std::to_string(static_cast<int>(command.timeout)) + " s: " + command.text;
	} else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		const std::string err = fd_contents(err_fd);
		r.error = "the command " + std::string(WIFEXITED(status) ? "exited with status " +
		    std::to_string(WEXITSTATUS(status)) : "was killed by a signal") +
		    (err.empty() ? "" : ": " + err.substr(0, err.find('\n')));
	} else if (!parse_output(fd_contents(out_fd), command.scale, &r.value)) {
		r.error = "the command printed no number: " + quoted(fd_contents(out_fd));
	} else {
		r.ok = r.series = true;
		r.time = clock_seconds(CLOCK_REALTIME);
	}
	for (const int fd : {out_fd, err_fd, in_fd})
		if (fd >= 0)
			close(fd);
	return r;
}
