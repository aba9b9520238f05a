// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_HTTP_H
#define CPUSPEND_COMMON_HTTP_H

/*
 * One HTTP or HTTPS request at a time, as a checker talks to a monitor: a
 * single deadline over every step, the server's certificate verified with
 * its name, credentials read from files and never from the command line,
 * and every failure one line that says where and why.
 */

#include <string>

struct HttpUrl {
	bool tls = false;
	std::string host, port;
	std::string path; /* all after the authority, without a trailing slash */
};

/* An http:// or https:// URL, or false with why. */
bool parse_url(const std::string &url, HttpUrl *out, std::string *why);

/* "https://host:port", as messages name a server. */
std::string url_origin(const HttpUrl &url);

/* text with every byte outside RFC 3986's unreserved set percent-encoded. */
std::string percent_encode(const std::string &text);

struct HttpClient {
	static constexpr double default_timeout = 30;
	double timeout = default_timeout; /* seconds, for connecting, the handshake and the answer */
	std::string ca_file;           /* the CAs to trust; empty: the system's store */
	std::string bearer_token_file; /* its first line, read again for each request */
	std::string basic_auth_file;   /* one line, user:password */
};

struct HttpRequest {
	const char *method = "GET";
	std::string target;  /* path and query */
	std::string accept;
	std::string body, content_type;
};

struct HttpAnswer {
	bool ok = false;   /* an answer came; else error says why not */
	std::string error;
	int status = 0;
	std::string body, content_type;
};

/*
 * The first line of what the client's credential files hold cannot be read,
 * or "" when they can: to be asked before anything depends on them.
 */
std::string credentials_problem(const HttpClient &client);

HttpAnswer http_request(const HttpClient &client, const HttpUrl &url, const HttpRequest &request);

/* "HTTP 401 from ...: ..." for a server that refused the credentials, or "". */
std::string refusal(const HttpClient &client, const HttpUrl &url, const HttpAnswer &answer);

#endif
