// SPDX-License-Identifier: ISC
#include "publish.h"

#include <algorithm>
#include <cstdio>

#include "metrics.h"

static constexpr int http_success_low = 200;
static constexpr int http_success_high = 299;

/* RFC 4648's URL and file name safe alphabet, with padding. */
static std::string
base64url(const std::string &text)
{
	static constexpr char alphabet[] =
	    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
	/* Three bytes of eight bits are four characters of six. */
	static constexpr std::size_t bytes = 3;
	static constexpr std::size_t characters = 4;
	static constexpr unsigned byte_bits = 8;
	static constexpr unsigned character_bits = 6;
	static constexpr unsigned sextet = 0x3f;
	std::string out;
	for (std::size_t i = 0; i < text.size(); i += bytes) {
		unsigned group = 0;
		for (std::size_t n = 0; n < bytes; n++) {
			const unsigned byte = i + n < text.size() ? static_cast<unsigned char>(text[i + n]) : 0U;
			group = group << byte_bits | byte;
		}
		const std::size_t taken = std::min(bytes, text.size() - i);
		for (std::size_t k = 0; k < characters; k++) {
			const auto shift = static_cast<unsigned>(character_bits * (characters - 1 - k));
			out += k <= taken ? alphabet[group >> shift & sextet] : '=';
		}
	}
	return out;
}

static std::string
segment(const char *label, const std::string &value)
{
	const bool plain = !value.empty() &&
	    value.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
	    "0123456789-._~") == std::string::npos;
	if (plain)
		return std::string("/") + label + "/" + value;
	/* An empty value is a lone "=", as the Pushgateway documents it. */
	return std::string("/") + label + "@base64/" + (value.empty() ? "=" : base64url(value));
}

std::string
push_path(const PushGroup &group)
{
	return "/metrics" + segment("job", group.job) + segment("instance", group.instance);
}

std::string
push_metrics(const HttpClient &client, const HttpUrl &gateway, const PushGroup &group,
    const std::string &text)
{
	HttpRequest request;
	request.method = "PUT";
	request.target = gateway.path + push_path(group);
	request.body = text;
	request.content_type = "text/plain; version=0.0.4; charset=utf-8";
	const HttpAnswer answer = http_request(client, gateway, request);
	const std::string where = "cannot push to " + url_origin(gateway) + request.target + ": ";
	if (!answer.ok)
		return where + answer.error;
	if (answer.status >= http_success_low && answer.status <= http_success_high)
		return "";
	std::string why = refusal(client, gateway, answer);
	if (why.empty()) {
		why = "HTTP " + std::to_string(answer.status);
		const std::string said = answer.body.substr(0, answer.body.find('\n'));
		if (!said.empty())
			why += ": " + said;
	}
	return where + why;
}

int
publish_metrics(const Cli &cli, const CopyOptions &o, const std::string &instance,
    const std::string &text)
{
	if (o.metrics.print)
		std::fputs(text.c_str(), stdout);
	/* The report goes out first, whatever follows. */
	std::fflush(stdout);
	int status = 0;
	std::string why;
	if (!o.metrics.textfile.empty())
		why = write_textfile(o.metrics.textfile.c_str(), text);
	if (!why.empty()) {
		std::fprintf(stderr, "%s: %s\n", cli.name, why.c_str());
		status = 2;
	}
	if (!o.metrics.push.empty()) {
		why = push_metrics(o.http, o.metrics.gateway, {cli.name, instance}, text);
		if (!why.empty()) {
			std::fprintf(stderr, "%s: %s\n", cli.name, why.c_str());
			status = 2;
		}
	}
	return status;
}
