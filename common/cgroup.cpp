// SPDX-License-Identifier: ISC
#include "cgroup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr int decimal = 10;
static constexpr double microsecond = 1e-6;
static constexpr double nanosecond = 1e-9;
static constexpr int octal = 8;
static constexpr std::size_t octal_digits = 3;
/* A mountinfo line: six fields, optional ones, "-", then three more. */
static constexpr std::size_t mountinfo_optional = 6;
static constexpr std::ptrdiff_t mountinfo_after_dash = 3;

std::string
read_all(std::FILE *in)
{
	std::string text;
	char buffer[BUFSIZ];
	std::size_t n;
	while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
		text.append(buffer, n);
	return text;
}

std::string
read_text(const std::string &path)
{
	std::FILE *in = std::fopen(path.c_str(), "re");
	if (in == nullptr)
		return "";
	std::string text = read_all(in);
	std::fclose(in);
	return text;
}

/* The parts between separators; a trailing separator ends the last part. */
static std::vector<std::string>
split(const std::string &text, const char *separators)
{
	std::vector<std::string> parts;
	std::size_t start = 0;
	while (start < text.size()) {
		std::size_t end = text.find_first_of(separators, start);
		if (end == std::string::npos)
			end = text.size();
		parts.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return parts;
}

static bool
contains(const std::vector<std::string> &list, const std::string &item)
{
	return std::find(list.begin(), list.end(), item) != list.end();
}

/* A number in decimal at the start of text, or -1 where there is none. */
static long long
number(const char *text, const char **end = nullptr)
{
	char *stop = nullptr;
	const long long value = std::strtoll(text, &stop, decimal);
	if (end != nullptr)
		*end = stop;
	return stop == text ? -1 : value;
}

/* mountinfo writes space, tab, newline and backslash in paths as \ooo. */
static std::string
unescape(const std::string &field)
{
	std::string text;
	for (std::size_t i = 0; i < field.size(); i++) {
		if (field[i] == '\\' && i + octal_digits < field.size() &&
		    field.find_first_not_of("01234567", i + 1) > i + octal_digits) {
			text += static_cast<char>(std::strtol(field.substr(i + 1, octal_digits).c_str(),
			    nullptr, octal));
			i += octal_digits;
		} else {
			text += field[i];
		}
	}
	return text;
}

std::vector<Mount>
parse_mountinfo(const std::string &text)
{
	std::vector<Mount> mounts;
	for (const std::string &line : split(text, "\n")) {
		const std::vector<std::string> f = split(line, " ");
		/* Optional fields end at a lone "-"; three fields follow it. */
		const auto dash = std::find(f.begin() + static_cast<std::ptrdiff_t>(
		    std::min(mountinfo_optional, f.size())), f.end(), "-");
		if (f.end() - dash <= mountinfo_after_dash)
			continue;
		mounts.push_back({unescape(f[3]), unescape(f[4]), dash[1], split(dash[3], ",")});
	}
	return mounts;
}

std::vector<CgroupLine>
parse_proc_cgroup(const std::string &text)
{
	std::vector<CgroupLine> lines;
	for (const std::string &line : split(text, "\n")) {
		const std::size_t first = line.find(':');
		const std::size_t second = line.find(':', first + 1);
		if (first == std::string::npos || second == std::string::npos)
			continue;
		lines.push_back({line.substr(0, first),
		    split(line.substr(first + 1, second - first - 1), ","),
		    line.substr(second + 1)});
	}
	return lines;
}

static bool
is_dir(const std::string &path)
{
	struct stat st {};
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/* True when path is prefix itself or lies under it. */
static bool
under(const std::string &path, const std::string &prefix)
{
	if (prefix == "/")
		return !path.empty() && path[0] == '/';
	return path.compare(0, prefix.size(), prefix) == 0 &&
	    (path.size() == prefix.size() || path[prefix.size()] == '/');
}

/* A path that climbs above the cgroup namespace's root, as "/.." begins it. */
static bool
above_namespace(const std::string &path)
{
	return path == "/.." || path.compare(0, 4, "/../") == 0;
}

/*
 * Whether the mount shows the cgroup path: the path lies under its root,
 * and a path above the namespace's root only under a root that is too.
 */
static bool
shows(const Mount &m, const std::string &path)
{
	return under(path, m.root) && (above_namespace(m.root) || !above_namespace(path));
}

/*
 * The directory of the cgroup path under one of the mounts.  A mount shows
 * the hierarchy from its root down, so the path is found below the mount
 * point once the root is taken off it: under podman on cgroup v1 the root
 * is the container's own cgroup, and under a cgroup namespace both read
 * "/".  The mount whose root takes off the most wins.  When none fits, or
 * the directory is not there (the path is the host's but the mount shows
 * the container's own cgroup), the mount point itself is the cgroup; but a
 * cgroup namespace whose paths leave the mount's view cannot be located at
 * all, and then the result is empty.
 */
static std::string
cgroup_dir(const std::string &root, const std::vector<const Mount *> &mounts,
    const std::string &path, const Mount **chosen)
{
	const Mount *best = nullptr;
	bool namespace_apart = above_namespace(path);
	for (const Mount *m : mounts) {
		namespace_apart = namespace_apart || above_namespace(m->root);
		if (shows(*m, path) && (best == nullptr || m->root.size() > best->root.size()))
			best = m;
	}
	*chosen = best != nullptr ? best : mounts.front();
	if (best == nullptr)
		return namespace_apart ? "" : (*chosen)->point;
	const std::string rest = best->root == "/" ? path : path.substr(best->root.size());
	std::string dir = best->point + (rest == "/" ? "" : rest);
	return is_dir(root + dir) ? dir : best->point;
}

static const CgroupLine *
line_for(const std::vector<CgroupLine> &lines, const char *controller)
{
	for (const CgroupLine &line : lines) {
		if (controller == nullptr ? line.hierarchy == "0" && line.controllers.empty()
		    : contains(line.controllers, controller))
			return &line;
	}
	return nullptr;
}

static std::vector<const Mount *>
mounts_for(const std::vector<Mount> &mounts, const char *controller)
{
	std::vector<const Mount *> found;
	for (const Mount &m : mounts) {
		if (controller == nullptr ? m.fstype == "cgroup2"
		    : m.fstype == "cgroup" && contains(m.options, controller))
			found.push_back(&m);
	}
	return found;
}

/* The bandwidth limit set in one cgroup directory, if any. */
static bool
level_limit(const std::string &root, int version, const std::string &dir,
    long long *quota, long long *period, std::string *file)
{
	if (version == 2) {
		/* "max 100000" without a limit, "50000 100000" with one. */
		*file = dir + "/cpu.max";
		const std::string text = read_text(root + *file);
		const char *rest = nullptr;
		*quota = number(text.c_str(), &rest);
		*period = *quota > 0 ? number(rest) : -1;
		return *quota > 0 && *period > 0;
	}
	*file = dir + "/cpu.cfs_quota_us";
	*quota = number(read_text(root + *file).c_str());
	*period = number(read_text(root + dir + "/cpu.cfs_period_us").c_str());
	return *quota > 0 && *period > 0;
}

bool
tighter(long long quota, long long period, const Limit &limit)
{
	/* Compared as fractions without the overflow a product of the two could reach. */
	return !limit.quota || static_cast<long double>(quota) / static_cast<long double>(period) <
	    static_cast<long double>(limit.quota_us) / static_cast<long double>(limit.period_us);
}

/* dir without its last n components. */
static std::string
up(std::string dir, int n)
{
	for (; n > 0 && !dir.empty(); n--)
		dir.erase(dir.rfind('/'));
	return dir;
}

/*
 * The tightest limit of the cgroup and of each ancestor up to the mount
 * point, and the directory where the usage of the cgroup that has it is
 * counted: as many levels up from the cgroup's own.
 */
struct Tops {
	std::string cpu, account; /* the mount points of the two hierarchies */
};

static void
walk_up(const std::string &root, Limit &limit, const Tops &top)
{
	std::string dir = limit.dir;
	for (int level = 0;; level++) {
		long long quota = 0;
		long long period = 0;
		std::string file;
		limit.levels++;
		if (level_limit(root, limit.version, dir, &quota, &period, &file) &&
		    tighter(quota, period, limit)) {
			limit.quota = true;
			limit.quota_us = quota;
			limit.period_us = period;
			limit.source = file;
			limit.limit_dir = dir;
			const std::string account = up(limit.account_dir, level);
			limit.limit_account_dir = under(account, top.account) ? account : "";
		}
		if (dir.size() <= top.cpu.size())
			break;
		dir.erase(dir.rfind('/'));
	}
	if (!limit.quota)
		return;
	const long long burst = number(read_text(root + limit.limit_dir +
	    (limit.version == 2 ? "/cpu.max.burst" : "/cpu.cfs_burst_us")).c_str());
	limit.burst_us = std::max(burst, 0LL);
}

Limit
find_limit(const std::string &root)
{
	const std::vector<Mount> mounts = parse_mountinfo(read_text(root + "/proc/self/mountinfo"));
	const std::vector<CgroupLine> lines = parse_proc_cgroup(read_text(root + "/proc/self/cgroup"));
	Limit limit;
	const Mount *mount = nullptr;
	const Mount *acct_mount = nullptr;

	/* A controller is on one hierarchy only: on v1 when a v1 hierarchy has it. */
	const CgroupLine *v1 = line_for(lines, "cpu");
	const CgroupLine *v2 = line_for(lines, nullptr);
	const std::vector<const Mount *> v1_mounts = mounts_for(mounts, "cpu");
	const std::vector<const Mount *> v2_mounts = mounts_for(mounts, nullptr);
	if (v1 != nullptr && !v1_mounts.empty()) {
		limit.version = 1;
		limit.cgroup = v1->path;
		limit.dir = cgroup_dir(root, v1_mounts, v1->path, &mount);
		const CgroupLine *acct = line_for(lines, "cpuacct");
		const std::vector<const Mount *> acct_mounts = mounts_for(mounts, "cpuacct");
		if (acct != nullptr && !acct_mounts.empty())
			limit.account_dir = cgroup_dir(root, acct_mounts, acct->path, &acct_mount);
	} else if (v1 != nullptr) {
		limit.why = "the cpu controller's cgroup v1 hierarchy is not mounted here";
		return limit;
	} else if (v2 != nullptr && !v2_mounts.empty()) {
		limit.version = 2;
		limit.cgroup = v2->path;
		limit.dir = cgroup_dir(root, v2_mounts, v2->path, &mount);
		limit.account_dir = limit.dir;
		acct_mount = mount;
	} else {
		limit.why = "no cgroup file system with the cpu controller is mounted here";
		return limit;
	}
	/* Where the mount cannot show the cgroup, what lies there is another's. */
	if (limit.dir.empty()) {
		limit.outside = true;
		limit.account_dir.clear();
		return limit;
	}
	walk_up(root, limit, {mount->point, acct_mount != nullptr ? acct_mount->point : ""});
	return limit;
}

/* The value of "key value" in a cpu.stat, or -1. */
static long long
stat_field(const std::string &text, const std::string &key)
{
	const std::string line_start = "\n" + key + " ";
	const std::size_t at = ("\n" + text).find(line_start);
	return at == std::string::npos ? -1 : number(text.c_str() + at + key.size() + 1);
}

/* The "total=" of the "some" line of a pressure file, in seconds, or -1. */
static double
some_pressure(const std::string &text)
{
	const std::size_t at = text.find("some ");
	const std::size_t total = at == std::string::npos ? at : text.find("total=", at);
	if (total == std::string::npos)
		return -1;
	const long long us = number(text.c_str() + total + sizeof "total=" - 1);
	return us < 0 ? -1 : static_cast<double>(us) * microsecond;
}

/* Steal of every CPU together, the eighth figure of /proc/stat's "cpu" line. */
static double
steal_seconds(const std::string &text)
{
	static constexpr int steal_field = 8;
	if (text.compare(0, 4, "cpu ") != 0)
		return -1;
	const char *at = text.c_str() + 4;
	long long ticks = -1;
	for (int i = 0; i < steal_field; i++)
		ticks = number(at, &at);
	const long hz = sysconf(_SC_CLK_TCK);
	return ticks < 0 || hz <= 0 ? -1 : static_cast<double>(ticks) / static_cast<double>(hz);
}

static void
read_pressure(const std::string &root, const Limit &limit, CpuStats &stats)
{
	/* A cgroup's own pressure on v2; the whole system's where that is all there is. */
	double pressure = -1;
	if (limit.version == 2 && !limit.dir.empty())
		pressure = some_pressure(read_text(root + limit.dir + "/cpu.pressure"));
	if (pressure < 0) {
		pressure = some_pressure(read_text(root + "/proc/pressure/cpu"));
		stats.pressure_system = pressure >= 0;
	}
	stats.pressure = pressure;
	stats.steal = steal_seconds(read_text(root + "/proc/stat"));
}

CpuStats
stats_since(const CpuStats &before, const CpuStats &after)
{
	const auto grew = [](auto from, auto to) { return from < 0 || to < 0 ? -1 : to - from; };
	CpuStats used;
	used.usage = grew(before.usage, after.usage);
	used.group_usage = grew(before.group_usage, after.group_usage);
	used.periods = grew(before.periods, after.periods);
	used.throttled = grew(before.throttled, after.throttled);
	used.throttled_time = grew(before.throttled_time, after.throttled_time);
	used.pressure = grew(before.pressure, after.pressure);
	used.pressure_system = after.pressure_system;
	used.steal = grew(before.steal, after.steal);
	return used;
}

CpuStats
read_stats(const std::string &root, const Limit &limit)
{
	CpuStats stats;
	const bool v2 = limit.version == 2;
	const double unit = v2 ? microsecond : nanosecond;
	read_pressure(root, limit, stats);
	if (limit.dir.empty())
		return stats;
	const std::string throttling = read_text(root +
	    (limit.quota ? limit.limit_dir : limit.dir) + "/cpu.stat");
	stats.periods = stat_field(throttling, "nr_periods");
	stats.throttled = stat_field(throttling, "nr_throttled");
	const long long time = stat_field(throttling, v2 ? "throttled_usec" : "throttled_time");
	stats.throttled_time = time < 0 ? -1 : static_cast<double>(time) * unit;

	if (limit.account_dir.empty())
		return stats;
	const auto usage_of = [&](const std::string &dir) {
		const std::string text = read_text(root + dir + (v2 ? "/cpu.stat" : "/cpuacct.usage"));
		const long long usage = v2 ? stat_field(text, "usage_usec") : number(text.c_str());
		return usage < 0 ? -1 : static_cast<double>(usage) * unit;
	};
	stats.usage = usage_of(limit.account_dir);
	if (!limit.quota)
		stats.group_usage = stats.usage;
	else if (!limit.limit_account_dir.empty())
		stats.group_usage = usage_of(limit.limit_account_dir);
	return stats;
}


int
allowed_cpus()
{
	cpu_set_t set;
	CPU_ZERO(&set);
	if (sched_getaffinity(0, sizeof set, &set) != 0)
		return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
	return CPU_COUNT(&set);
}

double
copies_capacity(const Limit &limit, int cpus, int copies)
{
	const double most = std::min(cpus, copies);
	return limit.quota ? std::min(quota_cpus(limit), most) : most;
}
