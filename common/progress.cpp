// SPDX-License-Identifier: ISC
#include "progress.h"

#include <cstdio>

#include <unistd.h>

/* Room for a line, cut short where a figure is absurd. */
static constexpr std::size_t line_size = 160;

Progress::Progress(const char *name, double expected)
    : name_(name), expected_(expected), terminal_(isatty(STDERR_FILENO) == 1)
{
}

/* The line is cleared to its end each time, as it may have grown shorter. */
void
Progress::show(const std::string &line)
{
	if (!terminal_)
		return;
	std::fprintf(stderr, "\r%s: %s\033[K", name_, line.c_str());
	std::fflush(stderr);
	showing_ = true;
}

void
Progress::copies(std::size_t running, std::size_t all, double elapsed)
{
	char line[line_size];
	std::snprintf(line, sizeof line, "%zu of %zu %s running, %.0f s of %.0f s expected",
	    running, all, all == 1 ? "copy" : "copies", elapsed, expected_);
	show(line);
}

void
Progress::waiting(const char *what, double waited, double most)
{
	char line[line_size];
	std::snprintf(line, sizeof line, "waiting %.0f s of at most %.0f s ", waited, most);
	show(line + std::string(what));
}

void
Progress::erase()
{
	if (!showing_)
		return;
	std::fprintf(stderr, "\r\033[K");
	std::fflush(stderr);
	showing_ = false;
}
