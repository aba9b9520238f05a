// SPDX-License-Identifier: ISC
/*
 * The limit checker's own logic: finding the limit on cgroup layouts
 * captured from real systems with tests/cgroup/capture, judging runs, and
 * writing JSON strings.
 */

#include "cgroup.h"
#include "report.h"
#include "verdict.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Layout {
	const char *name; /* a directory under tests/cgroup */
	int version;
	std::string cgroup, dir, account_dir;
	long long quota_us, period_us; /* 0: no quota */
	std::string source;
	int levels;
};

void
PrintTo(const Layout &l, std::ostream *os)
{
	*os << l.name;
}

class FindLimit : public testing::TestWithParam<Layout> {};

TEST_P(FindLimit, OnCapturedLayouts)
{
	const Layout &want = GetParam();
	const std::string dir = std::string(CGROUP_CAPTURES) + "/" + want.name;
	const Limit got = find_limit(dir + "/fs");
	EXPECT_EQ(got.version, want.version) << got.why;
	EXPECT_EQ(got.cgroup, want.cgroup);
	EXPECT_EQ(got.dir, want.dir);
	EXPECT_EQ(got.account_dir, want.account_dir);
	EXPECT_EQ(got.quota, want.quota_us > 0);
	EXPECT_EQ(got.quota_us, want.quota_us);
	EXPECT_EQ(got.period_us, want.period_us);
	EXPECT_EQ(got.source, want.source);
	EXPECT_EQ(got.levels, want.levels);
}

const std::string libpod =
    "/libpod_parent/libpod-5923910229b998205944bf9acbbf4c777e72cd22ccb2c47ccef8c0c2ae8a7f48";

INSTANTIATE_TEST_SUITE_P(Captured, FindLimit, testing::Values(
    /* Hybrid: cgroup2 is mounted too, but the cpu controller is on v1, in
     * a hierarchy of its own apart from cpuacct; the parent holds the limit. */
    Layout{"host-v1-nested", 1, "/capture-parent/leaf",
        "/sys/fs/cgroup/cpu/capture-parent/leaf",
        "/sys/fs/cgroup/cpuacct/capture-parent/leaf", 50000, 100000,
        "/sys/fs/cgroup/cpu/capture-parent/cpu.cfs_quota_us", 3},
    /* A subtree bind-mounted over the hierarchy's mount point, holding a
     * looser limit than its child's. */
    Layout{"host-v1-subtree", 1, "/capture-parent/leaf", "/sys/fs/cgroup/cpu/leaf",
        "/sys/fs/cgroup/cpuacct/capture-parent/leaf", 50000, 100000,
        "/sys/fs/cgroup/cpu/leaf/cpu.cfs_quota_us", 2},
    /* podman --cpus=0.5: the host's path, and a mount whose root is it. */
    Layout{"podman-v1-quota", 1, libpod, "/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpuacct",
        50000, 100000, "/sys/fs/cgroup/cpu/cpu.cfs_quota_us", 1},
    Layout{"podman-v1-cpuset", 1,
        "/libpod_parent/libpod-c3731e7b8e30340e4f959bd822948184c3d48525ba1bfbe5d03c162a6dd9f500",
        "/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpuacct",
        0, 0, "", 1},
    Layout{"v2-guest", 2, "/half", "/sys/fs/cgroup/half", "/sys/fs/cgroup/half",
        50000, 100000, "/sys/fs/cgroup/half/cpu.max", 2},
    Layout{"v2-guest-nested", 2, "/parent/child", "/sys/fs/cgroup/parent/child",
        "/sys/fs/cgroup/parent/child", 30000, 100000, "/sys/fs/cgroup/parent/cpu.max", 3},
    /* A cgroup namespace: the cgroup reads "/", and so does the mount's root. */
    Layout{"v2-namespace", 2, "/", "/sys/fs/cgroup", "/sys/fs/cgroup",
        50000, 100000, "/sys/fs/cgroup/cpu.max", 1}),
    [](const testing::TestParamInfo<Layout> &p) {
	    std::string name = p.param.name;
	    for (char &c : name)
		    c = c == '-' ? '_' : c;
	    return name;
    });

TEST(ReadStats, ThrottlingFromTheLimitingCgroupUsageFromTheOwn)
{
	struct Case {
		const char *name;
		double usage;
		long long periods, throttled;
		double throttled_time;
	};
	/* The figures are those of the captured files, read by eye. */
	const Case cases[] = {
	    {"host-v1-nested", 0.070133783, 2, 1, 0.004532343},
	    {"v2-guest-nested", 2.204925, 74, 68, 4.796942},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string dir = std::string(CGROUP_CAPTURES) + "/" + c.name;
		const Limit limit = find_limit(dir + "/fs");
		const CpuStats stats = read_stats(dir + "/fs", limit);
		EXPECT_DOUBLE_EQ(stats.usage, c.usage);
		EXPECT_EQ(stats.periods, c.periods);
		EXPECT_EQ(stats.throttled, c.throttled);
		EXPECT_DOUBLE_EQ(stats.throttled_time, c.throttled_time);
	}
}

TEST(FindLimit, SaysWhyWithoutACpuController)
{
	/* No /proc and no cgroup file system, as in an empty root. */
	const Limit none = find_limit(std::string(CGROUP_CAPTURES) + "/nonexistent");
	EXPECT_EQ(none.version, 0);
	EXPECT_NE(none.why, "");
	/* A v2 cgroup below one that does not pass the cpu controller on. */
	const Limit off = find_limit(std::string(CGROUP_CAPTURES) + "/v2-no-cpu/fs");
	EXPECT_EQ(off.version, 0);
	EXPECT_EQ(off.why, "the cpu controller is not enabled for /sys/fs/cgroup/half/plain");
}

TEST(Verdict, Table)
{
	struct Case {
		const char *what;
		Figures f;
		Verdict want;
	};
	/* copies, seconds, tolerance, capacity, quota, period, wall, periods, throttled */
	const Case cases[] = {
	    {"on time", {1, 2, 0.1, 0.5, true, 0.1, 4.0, 40, 40}, Verdict::ok},
	    {"one period early", {1, 2, 0.1, 0.5, true, 0.1, 3.95, 40, 40}, Verdict::ok},
	    {"one period early on a short run", {1, 1, 0.1, 0.5, true, 0.1, 1.93, 20, 20},
	        Verdict::ok},
	    {"twice as fast", {1, 2, 0.1, 0.5, true, 0.1, 2.0, 20, 0}, Verdict::faster},
	    {"fast past the margin, loose tolerance", {1, 2, 0.5, 0.5, true, 0.1, 3.7, 37, 37},
	        Verdict::faster},
	    {"early within the margin, tight tolerance", {1, 5, 0.01, 0.5, true, 0.1, 9.85, 99, 99},
	        Verdict::faster},
	    {"no quota, on time", {2, 1, 0.1, 2, false, 0, 1.02, -1, -1}, Verdict::ok},
	    {"no quota, slow", {2, 1, 0.1, 2, false, 0, 1.5, -1, -1},
	        Verdict::slower_contention},
	    {"throttled all along", {1, 2, 0.1, 0.5, true, 0.1, 6.0, 60, 59},
	        Verdict::slower_throttled},
	    {"quota not reached", {1, 2, 0.1, 0.5, true, 0.1, 6.0, 60, 20},
	        Verdict::slower_contention},
	    {"idle in the middle", {1, 2, 0.1, 0.5, true, 0.1, 6.0, 40, 40},
	        Verdict::slower_contention},
	};
	for (const Case &c : cases)
		EXPECT_EQ(verdict_name(judge(c.f)), verdict_name(c.want)) << c.what;
}

TEST(JsonString, EscapesAndKeepsOnlyValidUtf8)
{
	const std::pair<std::string, std::string> cases[] = {
	    {"plain /sys/fs/cgroup", "\"plain /sys/fs/cgroup\""},
	    {"a \"quoted\" name\\", "\"a \\\"quoted\\\" name\\\\\""},
	    {"tab\tnew\nline\x01\x1f\x7f", "\"tab\\u0009new\\u000aline\\u0001\\u001f\\u007f\""},
	    {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7\""},
	    {"\xff", "\"\xef\xbf\xbd\""},
	    {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},          /* overlong '/' */
	    {"\xe0\x80\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""}, /* overlong, 3 bytes */
	    {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""}, /* a surrogate */
	    {"\xf4\x90\x80\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
	    {"cut \xe2\x82", "\"cut \xef\xbf\xbd\xef\xbf\xbd\""},
	};
	for (const auto &[text, json] : cases)
		EXPECT_EQ(json_string(text), json);
}

}
