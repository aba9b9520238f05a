// SPDX-License-Identifier: ISC
#include "origin.h"

#include <cstdlib>

#include <sys/utsname.h>

static std::string
environment(const char *name)
{
	const char *value = std::getenv(name);
	return value != nullptr ? value : "";
}

Origin
origin_from_environment()
{
	Origin o;
	for (const char *name : {"SLURMD_NODENAME", "NODE_NAME"}) {
		o.node = environment(name);
		if (!o.node.empty()) {
			o.node_from = name;
			break;
		}
	}
	if (o.node.empty()) {
		utsname host{};
		uname(&host);
		o.node = host.nodename;
		o.node_from = "host name";
	}
	o.job = environment("SLURM_JOB_ID");
	o.task = environment("SLURM_PROCID");
	o.pod = environment("POD_NAME");
	return o;
}
