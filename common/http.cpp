// SPDX-License-Identifier: ISC
#include "http.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace ssl = boost::asio::ssl;
using tcp = boost::asio::ip::tcp;

static constexpr int http_version = 11;
static constexpr int http_unauthorized = 401;
static constexpr int http_forbidden = 403;
static constexpr double milliseconds = 1000;

bool
parse_url(const std::string &url, HttpUrl *out, std::string *why)
{
	static constexpr char plain[] = "http://";
	static constexpr char secure[] = "https://";
	std::string rest;
	if (url.compare(0, sizeof plain - 1, plain) == 0) {
		out->tls = false;
		rest = url.substr(sizeof plain - 1);
	} else if (url.compare(0, sizeof secure - 1, secure) == 0) {
		out->tls = true;
		rest = url.substr(sizeof secure - 1);
	} else {
		*why = "not an http:// or https:// URL";
		return false;
	}
	const std::size_t slash = rest.find('/');
	std::string authority = rest.substr(0, slash);
	out->path = slash == std::string::npos ? "" : rest.substr(slash);
	while (!out->path.empty() && out->path.back() == '/')
		out->path.pop_back();
	out->port = out->tls ? "443" : "80";
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
	if (out->host.find('@') != std::string::npos) {
		*why = "credentials in the URL would be on the command line: give them in a file";
		return false;
	}
	return true;
}

std::string
url_origin(const HttpUrl &url)
{
	const bool v6 = url.host.find(':') != std::string::npos;
	return std::string(url.tls ? "https://" : "http://") + (v6 ? "[" : "") + url.host +
	    (v6 ? "]" : "") + ":" + url.port;
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

/* What a file names; why, when it cannot be had. */
struct Secret {
	std::string value, why;
};

/* The first line of a file, without its end of line. */
static Secret
first_line(const std::string &path, const char *what)
{
	Secret line;
	std::ifstream in(path);
	if (!in) {
		line.why = std::string("cannot read the ") + what + " file " + path + ": " +
		    std::strerror(errno);
		return line;
	}
	std::getline(in, line.value);
	while (!line.value.empty() &&
	    std::isspace(static_cast<unsigned char>(line.value.back())) != 0)
		line.value.pop_back();
	if (line.value.empty())
		line.why = std::string("the ") + what + " file " + path + " is empty";
	return line;
}

static std::string
base64(const std::string &text)
{
	std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
	const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()),
	    static_cast<int>(text.size()));
	return {reinterpret_cast<const char *>(out.data()), static_cast<std::size_t>(n)};
}

/* The Authorization header's value, empty for none. */
static Secret
authorization(const HttpClient &client)
{
	if (!client.bearer_token_file.empty()) {
		Secret token = first_line(client.bearer_token_file, "bearer token");
		token.value = "Bearer " + token.value;
		return token;
	}
	if (client.basic_auth_file.empty())
		return {};
	Secret pair = first_line(client.basic_auth_file, "basic auth");
	if (pair.why.empty() && pair.value.find(':') == std::string::npos)
		pair.why = "the basic auth file " + client.basic_auth_file + " does not hold user:password";
	pair.value = "Basic " + base64(pair.value);
	return pair;
}

std::string
credentials_problem(const HttpClient &client)
{
	if (!client.ca_file.empty()) {
		const std::ifstream in(client.ca_file);
		if (!in)
			return "cannot read the CA file " + client.ca_file + ": " + std::strerror(errno);
	}
	return authorization(client).why;
}

/* OpenSSL's reason for a certificate it did not accept, where it has one. */
static std::string
verify_problem(SSL *ssl)
{
	const long result = SSL_get_verify_result(ssl);
	if (result == X509_V_OK)
		return "";
	return std::string("the server's certificate was not accepted: ") +
	    X509_verify_cert_error_string(result);
}

/* What one exchange holds, from resolving the name to the answer. */
struct Exchange {
	asio::io_context io;
	tcp::resolver resolver{io};
	ssl::context tls{ssl::context::tls_client};
	beast::ssl_stream<beast::tcp_stream> stream{io, tls};
	http::request<http::string_body> request;
	http::response<http::string_body> response;
	beast::flat_buffer buffer;
	beast::error_code failure;
	std::string step;
	std::chrono::milliseconds deadline{0};
	bool secure = false;
};

/*
 * The steps are chained asynchronously, since only those heed the stream's
 * deadline; the first failure ends the chain and is kept.
 */
static bool
failed(Exchange &x, const beast::error_code &ec, const char *what)
{
	if (ec && !x.failure) {
		x.failure = ec;
		x.step = what;
	}
	return static_cast<bool>(ec);
}

static void
read_answer(Exchange &x)
{
	const auto done = [&x](const beast::error_code &ec, std::size_t) {
		failed(x, ec, "no answer from");
	};
	if (x.secure)
		http::async_read(x.stream, x.buffer, x.response, done);
	else
		http::async_read(beast::get_lowest_layer(x.stream), x.buffer, x.response, done);
}

static void
send(Exchange &x)
{
	const auto done = [&x](const beast::error_code &ec, std::size_t) {
		if (!failed(x, ec, "cannot send to"))
			read_answer(x);
	};
	if (x.secure)
		http::async_write(x.stream, x.request, done);
	else
		http::async_write(beast::get_lowest_layer(x.stream), x.request, done);
}

static void
connected(Exchange &x)
{
	if (!x.secure) {
		send(x);
		return;
	}
	x.stream.async_handshake(ssl::stream_base::client, [&x](const beast::error_code &ec) {
		if (!failed(x, ec, "TLS handshake failed with"))
			send(x);
	});
}

static void
start(Exchange &x, const std::string &host, const std::string &port)
{
	x.resolver.async_resolve(host, port,
	    [&x](const beast::error_code &ec, const tcp::resolver::results_type &found) {
		    if (failed(x, ec, "cannot resolve"))
			    return;
		    beast::tcp_stream &socket = beast::get_lowest_layer(x.stream);
		    socket.expires_after(x.deadline);
		    socket.async_connect(found, [&x](const beast::error_code &c, auto &&) {
			    if (!failed(x, c, "cannot reach"))
				    connected(x);
		    });
	    });
}

/* Trust, the name to check the certificate against, and SNI; false with why. */
static bool
set_up_tls(Exchange &x, const HttpClient &client, const HttpUrl &url, std::string *why)
{
	beast::error_code ec;
	/* The stream's own mode: it took the context's when it was made. */
	x.stream.set_verify_mode(ssl::verify_peer, ec);
	if (client.ca_file.empty())
		x.tls.set_default_verify_paths(ec);
	else
		x.tls.load_verify_file(client.ca_file, ec);
	if (ec) {
		*why = "cannot load the CA certificates " +
		    (client.ca_file.empty() ? std::string("of the system") : "in " + client.ca_file) +
		    ": " + ec.message();
		return false;
	}
	SSL *ssl = x.stream.native_handle();
	X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
	beast::error_code not_address;
	asio::ip::make_address(url.host, not_address);
	bool set = false;
	if (!not_address) {
		set = X509_VERIFY_PARAM_set1_ip_asc(param, url.host.c_str()) == 1;
	} else {
		X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
		set = X509_VERIFY_PARAM_set1_host(param, url.host.c_str(), url.host.size()) == 1 &&
		    SSL_set_tlsext_host_name(ssl, url.host.c_str()) == 1;
	}
	if (!set)
		*why = "cannot ask for " + url.host + " in the server's certificate";
	return set;
}

HttpAnswer
http_request(const HttpClient &client, const HttpUrl &url, const HttpRequest &request)
{
	HttpAnswer answer;
	const Secret credentials = authorization(client);
	answer.error = credentials.why;
	if (!answer.error.empty())
		return answer;
	Exchange x;
	x.secure = url.tls;
	if (x.secure && !set_up_tls(x, client, url, &answer.error))
		return answer;
	x.deadline = std::chrono::milliseconds(static_cast<long>(client.timeout * milliseconds));
	x.request = {http::string_to_verb(request.method), request.target.empty() ? "/" :
	    request.target, http_version};
	x.request.set(http::field::host, url.host);
	x.request.set(http::field::user_agent, "cpuspend");
	if (!request.accept.empty())
		x.request.set(http::field::accept, request.accept);
	if (!credentials.value.empty())
		x.request.set(http::field::authorization, credentials.value);
	if (!request.content_type.empty())
		x.request.set(http::field::content_type, request.content_type);
	x.request.body() = request.body;
	x.request.prepare_payload();
	start(x, url.host, url.port);
	x.io.run_for(x.deadline + std::chrono::seconds(1));
	const std::string where = url_origin(url);
	if (!x.io.stopped()) {
		char seconds[sizeof "-1.23457e-100"];
		std::snprintf(seconds, sizeof seconds, "%g", client.timeout);
		answer.error = "no answer from " + where + " within " + seconds + " s";
	} else if (x.failure == beast::error::timeout) {
		answer.error = x.step + " " + where + ": no answer within the timeout";
	} else if (x.failure) {
		const std::string verify = x.secure ? verify_problem(x.stream.native_handle()) : "";
		answer.error = x.step + " " + where + ": " +
		    (verify.empty() ? x.failure.message() : verify);
	} else {
		answer.ok = true;
		answer.status = static_cast<int>(x.response.result_int());
		answer.body = std::move(x.response.body());
		answer.content_type = std::string(x.response[http::field::content_type]);
	}
	return answer;
}

std::string
refusal(const HttpClient &client, const HttpUrl &url, const HttpAnswer &answer)
{
	if (answer.status != http_unauthorized && answer.status != http_forbidden)
		return "";
	const bool given = !client.bearer_token_file.empty() || !client.basic_auth_file.empty();
	return "HTTP " + std::to_string(answer.status) + " from " + url_origin(url) + ": " +
	    (given ? "the server refused the credentials" :
	    "the server asks for credentials: give --bearer-token-file or --basic-auth-file");
}
