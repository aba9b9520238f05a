// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_PROGRESS_H
#define CPUSPEND_COMMON_PROGRESS_H

/*
 * What a check shows while it waits: one line on standard error, rewritten
 * in place, and erased before anything else is written.  Only on a
 * terminal: in a pipe, a file or a log nothing at all is added.
 */

#include <cstddef>
#include <string>

class Progress {
public:
	/* name heads the line; expected is how long the copies should take, in seconds. */
	Progress(const char *name, double expected);
	/* How often the line is rewritten, in seconds. */
	static constexpr double period = 1;
	[[nodiscard]] bool shown() const { return terminal_; }
	void copies(std::size_t running, std::size_t all, double elapsed);
	void waiting(const char *what, double waited, double most);
	void erase();

private:
	void show(const std::string &line);
	const char *name_;
	double expected_;
	bool terminal_;
	bool showing_ = false;
};

#endif
