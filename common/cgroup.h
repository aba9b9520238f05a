// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_CGROUP_H
#define CPUSPEND_COMMON_CGROUP_H

/*
 * Finds the CPU limit a process is held to from inside whatever it runs in:
 * its cgroup, as /proc/self/cgroup names it, mapped through
 * /proc/self/mountinfo to where that cgroup is mounted here, and the
 * bandwidth limit of that cgroup and of every ancestor that can be seen.
 * On cgroup v2 a cgroup where the cpu controller is not enabled is held by
 * the nearest ancestor where it is, so the walk goes up whether or not the
 * controller is enabled below.
 *
 * Every path read, /proc/self's included, is prefixed with root, so that a
 * file tree captured from another system reads as that system would.
 */

#include <cstdio>
#include <string>
#include <vector>

struct Mount {
	std::string root;  /* the part of the hierarchy the mount shows */
	std::string point; /* where it is mounted */
	std::string fstype;
	std::vector<std::string> options; /* the superblock's, controllers among them */
};

struct CgroupLine {
	std::string hierarchy;
	std::vector<std::string> controllers; /* empty on cgroup v2 */
	std::string path;
};

std::vector<Mount> parse_mountinfo(const std::string &text);
std::vector<CgroupLine> parse_proc_cgroup(const std::string &text);

struct Limit {
	int version = 0;         /* 1 or 2; 0 when no CPU controller is visible */
	std::string why;         /* with version 0, what was missing */
	std::string cgroup;      /* the cgroup's path, as /proc/self/cgroup names it */
	/*
	 * The cgroup cannot be located in the mount from this cgroup namespace:
	 * its path climbs above the namespace's root ("/.."), or the mount's
	 * root lies above it.  Neither it nor any limit on it can be seen.
	 */
	bool outside = false;
	std::string dir;         /* the cgroup's directory here, for the cpu controller */
	std::string account_dir; /* where its usage is counted: v1 cpuacct, or dir */
	bool quota = false;      /* a bandwidth limit applies */
	long long quota_us = 0;
	long long period_us = 0;
	long long burst_us = 0;  /* what the limiting cgroup may run ahead, or 0 */
	std::string source;      /* the file of the tightest limit */
	std::string limit_dir;   /* its directory, whose cpu.stat counts the throttling */
	std::string limit_account_dir; /* where the limiting cgroup's usage is counted */
	int levels = 0;          /* cgroups looked at: the own and each visible ancestor */
};

/* The processors a limit with a quota allows. */
inline double
quota_cpus(const Limit &limit)
{
	return static_cast<double>(limit.quota_us) / static_cast<double>(limit.period_us);
}

/* The CPUs this process may run on. */
int allowed_cpus();

/* The processors that copies running at once can have, under the limit on cpus. */
double copies_capacity(const Limit &limit, int cpus, int copies);

/* True when the limit quota/period is tighter than the one limit has. */
bool tighter(long long quota, long long period, const Limit &limit);

Limit find_limit(const std::string &root);

struct CpuStats {
	double usage = -1;        /* seconds used by the cgroup, or -1 */
	double group_usage = -1;  /* by the cgroup whose limit applies, or -1 */
	long long periods = -1;   /* enforcement periods, or -1 */
	long long throttled = -1; /* of which throttled */
	double throttled_time = -1; /* seconds, summed over the CPUs */
	double pressure = -1;     /* seconds in which some task waited for a CPU */
	bool pressure_system = false; /* the whole system's, not the cgroup's */
	double steal = -1;        /* seconds taken by the hypervisor, summed over the CPUs */
};

/* The cgroup's counters, with CPU pressure and steal, which need no cgroup. */
CpuStats read_stats(const std::string &root, const Limit &limit);
/* What the counters grew by from before to after; -1 where either is unknown. */
CpuStats stats_since(const CpuStats &before, const CpuStats &after);

/* A whole file, or an empty string. */
std::string read_text(const std::string &path);
/* All that a stream holds, to its end. */
std::string read_all(std::FILE *in);

#endif
