// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_TESTS_METRICS_PAGE_H
#define CPUSPEND_TESTS_METRICS_PAGE_H

/*
 * A page of metrics as a test reads it: its series, a series' value, and
 * Prometheus's own judgement of it, promtool check metrics, its parser and
 * linter, where it is installed.
 */

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

/* All a file holds, or "" when it cannot be read. */
inline std::string
file_contents(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

/* Each series of the page, name and labels, in order. */
inline std::vector<std::string>
series_of(const std::string &page)
{
	std::vector<std::string> all;
	std::istringstream in(page);
	for (std::string line; std::getline(in, line);) {
		if (!line.empty() && line[0] != '#')
			all.push_back(line.substr(0, line.rfind(' ')));
	}
	return all;
}

/* The value of one series, as written, or "" when the page lacks it. */
inline std::string
value_of(const std::string &page, const std::string &series)
{
	const std::string head = series + " ";
	const std::size_t at = page.find("\n" + head);
	if (at == std::string::npos)
		return "";
	const std::size_t start = at + 1 + head.size();
	return page.substr(start, page.find('\n', start) - start);
}

inline bool
have_promtool()
{
	return std::system("promtool --version >/dev/null 2>&1") == 0;
}

/* What promtool says of text, with its status; "" when it finds nothing wrong. */
inline std::string
promtool_problems(const std::string &text)
{
	char path[] = "/tmp/cpuspend-metrics.XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0)
		return "cannot make a temporary file";
	const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
	close(fd);
	std::string said;
	const std::string command = std::string("promtool check metrics <") + path + " 2>&1";
	if (FILE *p = written ? popen(command.c_str(), "r") : nullptr) {
		char buffer[512];
		std::size_t n = 0;
		while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
			said.append(buffer, n);
		const int status = pclose(p);
		if (status != 0)
			said += "(status " + std::to_string(status) + ")";
	} else {
		said = "cannot run promtool";
	}
	unlink(path);
	return said;
}

#endif
