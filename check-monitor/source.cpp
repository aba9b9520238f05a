// SPDX-License-Identifier: ISC
#include "source.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include "process.h"

namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;
using Json = nlohmann::json;

static constexpr int http_version = 11;
static constexpr int http_ok = 200;
static constexpr std::size_t quoted_output_max = 60;

struct Sample {
	bool ok = false;
	double value = 0, time = 0;
};

/* A sample's value, which the API gives as a string, "NaN" and "+Inf" among them. */
static Sample
sample_value(const Json &sample)
{
	Sample s;
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
		const Sample s = sample_value(result);
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
		const Sample s = series.is_object() && series.contains("value") ?
		    sample_value(series["value"]) : Sample{};
		if (!s.ok)
			return failed("a series of the vector has no number as its value");
		r.value += s.value;
		r.time = std::max(r.time, s.time);
		r.series = true;
	}
	r.ok = true;
	return r;
}

std::string
percent_encode(const std::string &text)
{
	static constexpr char hex[] = "0123456789ABCDEF";
	static constexpr unsigned nibble = 4;
	static constexpr unsigned low = 0xf;
	std::string out;
	for (const char c : text) {
		const auto byte = static_cast<unsigned char>(c);
		if (std::isalnum(byte) != 0 || std::strchr("-_.~", c) != nullptr) {
			out += c;
			continue;
		}
		out += '%';
		out += hex[byte >> nibble];
		out += hex[byte & low];
	}
	return out;
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

bool
parse_url(const std::string &url, HttpUrl *out, std::string *why)
{
	static constexpr char scheme[] = "http://";
	if (url.compare(0, sizeof scheme - 1, scheme) != 0) {
		*why = url.compare(0, sizeof "https:" - 1, "https:") == 0 ?
		    "https is not supported: give an http:// URL, such as a port-forward's" :
		    "not an http:// URL";
		return false;
	}
	const std::string rest = url.substr(sizeof scheme - 1);
	const std::size_t slash = rest.find('/');
	std::string authority = rest.substr(0, slash);
	out->prefix = slash == std::string::npos ? "" : rest.substr(slash);
	while (!out->prefix.empty() && out->prefix.back() == '/')
		out->prefix.pop_back();
	out->port = "80";
	/* An IPv6 address is bracketed, and holds colons of its own. */
	const std::size_t bracket = authority.rfind(']');
	const std::size_t colon = authority.rfind(':');
	if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
		out->port = authority.substr(colon + 1);
		authority.erase(colon);
	}
	if (authority.size() > 2 && authority.front() == '[' && authority.back() == ']')
		authority = authority.substr(1, authority.size() - 2);
	out->host = authority;
	if (out->host.empty() || out->port.empty() ||
	    out->port.find_first_not_of("0123456789") != std::string::npos) {
		*why = "no host, or a port that is not a number, in the URL";
		return false;
	}
	return true;
}

/*
 * One GET, with every step under one deadline: the operations run
 * asynchronously, since only those heed the stream's timeout.
 */
static Reading
http_get(const HttpUrl &url, const std::string &target, double timeout,
    http::response<http::string_body> &response)
{
	boost::asio::io_context io;
	tcp::resolver resolver(io);
	beast::tcp_stream stream(io);
	http::request<http::string_body> request{http::verb::get, target, http_version};
	request.set(http::field::host, url.host);
	request.set(http::field::user_agent, "cpuspend-check-monitor");
	request.set(http::field::accept, "application/json");
	beast::flat_buffer buffer;
	beast::error_code failure;
	const std::string where = "http://" + url.host + ":" + url.port;
	std::string step;
	const auto deadline = std::chrono::milliseconds(static_cast<long>(timeout * 1000));
	const auto done = [&](const char *what) {
		return [&, what](const beast::error_code &ec, auto &&...) {
			if (ec && !failure) {
				failure = ec;
				step = what;
			}
		};
	};
	resolver.async_resolve(url.host, url.port,
	    [&](const beast::error_code &ec, const tcp::resolver::results_type &found) {
		    if (ec) {
			    done("cannot resolve")(ec);
			    return;
		    }
		    stream.expires_after(deadline);
		    stream.async_connect(found, [&](const beast::error_code &connected, auto &&...) {
			    if (connected) {
				    done("cannot reach")(connected);
				    return;
			    }
			    http::async_write(stream, request, [&](const beast::error_code &wrote, auto) {
				    if (wrote) {
					    done("cannot send to")(wrote);
					    return;
				    }
				    http::async_read(stream, buffer, response, done("no answer from"));
			    });
		    });
	    });
	io.run_for(deadline + std::chrono::seconds(1));
	Reading r;
	if (!io.stopped())
		r.error = "no answer from " + where + " within " + std::to_string(timeout) + " s";
	else if (failure)
		r.error = step + " " + where + ": " + failure.message();
	else
		r.ok = true;
	return r;
}

Reading
read_prometheus(const HttpUrl &url, const std::string &query, double timeout)
{
	http::response<http::string_body> response;
	Reading got = http_get(url, url.prefix + "/api/v1/query?query=" +
	    percent_encode(query), timeout, response);
	if (!got.ok)
		return got;
	Reading r = parse_prometheus(response.body());
	/* Prometheus's own error object says more than the status code. */
	if (!r.ok && response.result_int() != http_ok &&
	    r.error.compare(0, sizeof "Prometheus says" - 1, "Prometheus says") != 0)
		r.error = "HTTP " + std::to_string(response.result_int()) + " from " + url.host +
		    ": " + r.error;
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
