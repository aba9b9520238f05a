// SPDX-License-Identifier: ISC
/*
 * cpuspend: spend a set amount of this process's own processor time writing
 * fixed lines to /dev/null, with a start and a finish report that carry the
 * process id so that many copies running at once can be told apart.
 */

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "duration.h"
#include "write_loop.h"

static constexpr int default_duration = 5;
static constexpr char null_device[] = "/dev/null";
static constexpr char seconds_flag[] = "-seconds";

/*
 * The reports go through stdout with its default buffering and are never
 * flushed here: on a terminal each appears as it is printed, and into a pipe
 * or file both arrive together when the process exits.
 */
int
main(int argc, char *argv[])
{
	int duration = default_duration;

	/* The device is opened before the command line is looked at. */
	std::FILE *stream = std::fopen(null_device, "w");
	if (stream == nullptr) {
		std::fprintf(stderr, "cpuspend: %s: %s\n", null_device,
		    std::strerror(errno));
		std::exit(1);
	}

	if (argc > 1) {
		if (std::strcmp(argv[1], seconds_flag) != 0) {
			std::fprintf(stderr, "Illegal flag: `%s'\n", argv[1]);
			std::exit(1);
		}
		/* A missing value reads as an empty one, which converts to 0. */
		duration = parse_duration(argc > 2 ? argv[2] : "");
	}

	std::printf("Process: %d - Begining to write to file.\n",
	    static_cast<int>(getpid()));
	if (!run_write_loop(stream, duration)) {
		std::fprintf(stderr,
		    "cpuspend: cannot read the processor clock\n");
		std::exit(1);
	}
	std::fclose(stream);
	std::printf("Process: %d - Finished.\n", static_cast<int>(getpid()));
	return 0;
}
