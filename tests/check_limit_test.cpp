// SPDX-License-Identifier: ISC
/*
 * The limit checker's own logic: finding the limit on cgroup layouts
 * captured from real systems with tests/cgroup/capture, reading the forms
 * of mountinfo that no capture holds, judging runs, and writing JSON.
 */

#include "cgroup.h"
#include "gather.h"
#include "json.h"
#include "report.h"
#include "verdict.h"

#include "metrics_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <cstdlib>
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
	std::string limit_account_dir; /* where the limiting cgroup's usage is counted */
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
	EXPECT_EQ(got.limit_account_dir, want.limit_account_dir);
	EXPECT_FALSE(got.outside);
}

const std::string libpod =
    "/libpod_parent/libpod-5923910229b998205944bf9acbbf4c777e72cd22ccb2c47ccef8c0c2ae8a7f48";

INSTANTIATE_TEST_SUITE_P(Captured, FindLimit, testing::Values(
    /* Hybrid: cgroup2 is mounted too, but the cpu controller is on v1, in
     * a hierarchy of its own apart from cpuacct; the parent holds the limit. */
    Layout{"host-v1-nested", 1, "/capture-parent/leaf",
        "/sys/fs/cgroup/cpu/capture-parent/leaf",
        "/sys/fs/cgroup/cpuacct/capture-parent/leaf", 50000, 100000,
        "/sys/fs/cgroup/cpu/capture-parent/cpu.cfs_quota_us", 3,
        "/sys/fs/cgroup/cpuacct/capture-parent"},
    /* A subtree bind-mounted over the hierarchy's mount point, holding a
     * looser limit than its child's. */
    Layout{"host-v1-subtree", 1, "/capture-parent/leaf", "/sys/fs/cgroup/cpu/leaf",
        "/sys/fs/cgroup/cpuacct/capture-parent/leaf", 50000, 100000,
        "/sys/fs/cgroup/cpu/leaf/cpu.cfs_quota_us", 2,
        "/sys/fs/cgroup/cpuacct/capture-parent/leaf"},
    /* podman --cpus=0.5: the host's path, and a mount whose root is it. */
    Layout{"podman-v1-quota", 1, libpod, "/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpuacct",
        50000, 100000, "/sys/fs/cgroup/cpu/cpu.cfs_quota_us", 1, "/sys/fs/cgroup/cpuacct"},
    Layout{"podman-v1-cpuset", 1,
        "/libpod_parent/libpod-c3731e7b8e30340e4f959bd822948184c3d48525ba1bfbe5d03c162a6dd9f500",
        "/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpuacct",
        0, 0, "", 1, ""},
    Layout{"v2-guest", 2, "/half", "/sys/fs/cgroup/half", "/sys/fs/cgroup/half",
        50000, 100000, "/sys/fs/cgroup/half/cpu.max", 2, "/sys/fs/cgroup/half"},
    Layout{"v2-guest-nested", 2, "/parent/child", "/sys/fs/cgroup/parent/child",
        "/sys/fs/cgroup/parent/child", 30000, 100000, "/sys/fs/cgroup/parent/cpu.max", 3,
        "/sys/fs/cgroup/parent"},
    /* The cpu controller not enabled in the cgroup: its parent's limit holds it. */
    Layout{"v2-no-cpu", 2, "/half/plain", "/sys/fs/cgroup/half/plain",
        "/sys/fs/cgroup/half/plain", 50000, 100000, "/sys/fs/cgroup/half/cpu.max", 3,
        "/sys/fs/cgroup/half"},
    /* systemd: a scope where the cpu controller is not enabled, with no
     * limit anywhere; one in a slice that holds the limit; one with
     * AllowedCPUs=, which sets no quota. */
    Layout{"v2-systemd-scope", 2, "/system.slice/run-r3bf6349cf74445468a6a37cc70bcef78.scope",
        "/sys/fs/cgroup/system.slice/run-r3bf6349cf74445468a6a37cc70bcef78.scope",
        "/sys/fs/cgroup/system.slice/run-r3bf6349cf74445468a6a37cc70bcef78.scope",
        0, 0, "", 3, ""},
    Layout{"v2-systemd-slice", 2, "/ci.slice/run-r0dc65dbf64fa4e46b3804ba896904415.scope",
        "/sys/fs/cgroup/ci.slice/run-r0dc65dbf64fa4e46b3804ba896904415.scope",
        "/sys/fs/cgroup/ci.slice/run-r0dc65dbf64fa4e46b3804ba896904415.scope",
        30000, 100000, "/sys/fs/cgroup/ci.slice/cpu.max", 3, "/sys/fs/cgroup/ci.slice"},
    Layout{"v2-systemd-cpuset", 2, "/system.slice/run-rfc96358bb21e44898ba765ade9627529.scope",
        "/sys/fs/cgroup/system.slice/run-rfc96358bb21e44898ba765ade9627529.scope",
        "/sys/fs/cgroup/system.slice/run-rfc96358bb21e44898ba765ade9627529.scope",
        0, 0, "", 3, ""},
    /* A cgroup namespace: the cgroup reads "/", and so does the mount's root. */
    Layout{"v2-namespace", 2, "/", "/sys/fs/cgroup", "/sys/fs/cgroup",
        50000, 100000, "/sys/fs/cgroup/cpu.max", 1, "/sys/fs/cgroup"}),
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
		double usage, group_usage;
		long long periods, throttled;
		double throttled_time;
	};
	/* The figures are those of the captured files, read by eye. */
	const Case cases[] = {
	    {"host-v1-nested", 0.070133783, 0.073971938, 2, 1, 0.004532343},
	    {"v2-guest-nested", 2.204925, 2.136454, 74, 68, 4.796942},
	    {"v2-no-cpu", 0.306608, 2.6056, 55, 48, 2.669274},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string dir = std::string(CGROUP_CAPTURES) + "/" + c.name;
		const Limit limit = find_limit(dir + "/fs");
		const CpuStats stats = read_stats(dir + "/fs", limit);
		EXPECT_DOUBLE_EQ(stats.usage, c.usage);
		EXPECT_DOUBLE_EQ(stats.group_usage, c.group_usage);
		EXPECT_EQ(stats.periods, c.periods);
		EXPECT_EQ(stats.throttled, c.throttled);
		EXPECT_DOUBLE_EQ(stats.throttled_time, c.throttled_time);
	}
}

TEST(FindLimit, SaysWhyWithNoCgroupFileSystem)
{
	/* No /proc and no cgroup file system, as in an empty root. */
	const Limit none = find_limit(std::string(CGROUP_CAPTURES) + "/nonexistent");
	EXPECT_EQ(none.version, 0);
	EXPECT_NE(none.why, "");
}

TEST(FindLimit, NotFromAnotherCgroupWhereTheNamespaceHidesItsOwn)
{
	/* Moved above its namespace's root ("/../.."), under a mount of the
	 * namespace's own; and at the namespace's root under the host's mount,
	 * whose root lies above it ("/../.."). */
	for (const char *name : {"v2-outside", "v2-namespace-unmounted"}) {
		const Limit got = find_limit(std::string(CGROUP_CAPTURES) + "/" + name + "/fs");
		EXPECT_EQ(got.version, 2) << name;
		EXPECT_TRUE(got.outside) << name;
		EXPECT_FALSE(got.quota) << name;
		EXPECT_EQ(got.dir, "") << name;
		const CpuStats stats = read_stats(std::string(CGROUP_CAPTURES) + "/" + name + "/fs", got);
		EXPECT_EQ(stats.usage, -1) << name;
		EXPECT_EQ(stats.periods, -1) << name;
	}
}

TEST(FindLimit, BurstOfTheLimitingCgroup)
{
	const std::string dir = std::string(CGROUP_CAPTURES) + "/v2-systemd-burst/fs";
	const Limit got = find_limit(dir);
	EXPECT_EQ(got.quota_us, 50000);
	EXPECT_EQ(got.burst_us, 20000);
	/* Without a quota a burst means nothing, and none is read. */
	EXPECT_EQ(find_limit(std::string(CGROUP_CAPTURES) + "/v2-systemd-scope/fs").burst_us, 0);
}

TEST(ParseMountinfo, FormsNoCaptureHolds)
{
	struct Case {
		const char *what, *line;
		std::string root, point, fstype, option;
	};
	const Case cases[] = {
	    {"optional fields", "30 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 master:1 "
	        "propagate_from:2 - cgroup2 cgroup2 rw,nsdelegate",
	        "/", "/sys/fs/cgroup", "cgroup2", "nsdelegate"},
	    {"cpu and cpuacct in one hierarchy", "36 25 0:31 / /sys/fs/cgroup/cpu,cpuacct "
	        "rw,relatime shared:15 - cgroup cgroup rw,cpu,cpuacct",
	        "/", "/sys/fs/cgroup/cpu,cpuacct", "cgroup", "cpuacct"},
	    {"escaped blanks", "40 1 0:40 /a\\040b /mnt/my\\040cgroup\\011x rw - cgroup2 none rw",
	        "/a b", "/mnt/my cgroup\tx", "cgroup2", "rw"},
	    {"a backslash", "41 1 0:41 / /mnt/back\\134slash rw - cgroup2 none rw",
	        "/", "/mnt/back\\slash", "cgroup2", "rw"},
	};
	for (const Case &c : cases) {
		const std::vector<Mount> got = parse_mountinfo(c.line);
		ASSERT_EQ(got.size(), 1U) << c.what;
		EXPECT_EQ(got[0].root, c.root) << c.what;
		EXPECT_EQ(got[0].point, c.point) << c.what;
		EXPECT_EQ(got[0].fstype, c.fstype) << c.what;
		EXPECT_NE(std::find(got[0].options.begin(), got[0].options.end(), c.option),
		    got[0].options.end()) << c.what;
	}
	/* A line cut short has no file system type, and is left out. */
	EXPECT_TRUE(parse_mountinfo("42 1 0:42 / /mnt rw shared:1").empty());
}

TEST(ParseProcCgroup, PathsOutsideTheNamespace)
{
	const std::vector<CgroupLine> got =
	    parse_proc_cgroup("4:cpu,cpuacct:/a/b\n0::/../../user.slice/x.scope\n");
	ASSERT_EQ(got.size(), 2U);
	EXPECT_EQ(got[0].controllers, (std::vector<std::string>{"cpu", "cpuacct"}));
	EXPECT_EQ(got[0].path, "/a/b");
	EXPECT_TRUE(got[1].controllers.empty());
	EXPECT_EQ(got[1].path, "/../../user.slice/x.scope");
}

TEST(ParseCpus, AsPeopleWriteThem)
{
	const std::pair<const char *, double> good[] = {
	    {"2", 2}, {"0.5", 0.5}, {"500m", 0.5}, {"1500m", 1.5}, {"0.25m", 0.00025},
	    {"64", 64}, {"007", 7},
	};
	for (const auto &[text, want] : good) {
		double got = 0;
		EXPECT_TRUE(parse_cpus(text, &got)) << text;
		EXPECT_DOUBLE_EQ(got, want) << text;
	}
	for (const char *bad : {"", "m", "0", "0m", "-1", "+1", ".5", "5.", "1.2.3", "5mm",
	         "1 ", " 1", "1e3", "0x10", "inf", "nan", "2cpu", "1000001"}) {
		double got = 0;
		EXPECT_FALSE(parse_cpus(bad, &got)) << "'" << bad << "'";
	}
}

/* Two seconds under half a CPU, on time, unless a case changes it. */
Figures
half_cpu(double wall)
{
	Figures f;
	f.copies = 1;
	f.seconds = 2;
	f.tolerance = 0.1;
	f.cpus = 2;
	f.capacity = 0.5;
	f.quota = true;
	f.quota_cpus = 0.5;
	f.period = 0.1;
	f.wall = wall;
	f.periods = static_cast<long long>(wall / f.period);
	f.throttled = f.periods;
	f.copies_cpu = 2;
	f.found = f.found_after = 0.5;
	return f;
}

TEST(Verdict, Table)
{
	struct Case {
		const char *what;
		Figures f;
		Verdict want;
	};
	const auto with = [](Figures f, auto change) {
		change(f);
		return f;
	};
	const auto no_quota = [](Figures &f) {
		f.copies = 2;
		f.seconds = 1;
		f.capacity = 2;
		f.quota = false;
		f.quota_cpus = 0;
		f.period = 0;
		f.periods = f.throttled = -1;
		f.found = f.found_after = 2;
	};
	const Case cases[] = {
	    {"on time", half_cpu(4.0), Verdict::ok},
	    {"one period early", half_cpu(3.95), Verdict::ok},
	    {"one period early on a short run",
	        with(half_cpu(1.93), [](Figures &f) { f.seconds = 1; }), Verdict::ok},
	    {"twice as fast", with(half_cpu(2.0), [](Figures &f) { f.throttled = 0; }),
	        Verdict::faster},
	    {"fast past the margin, loose tolerance",
	        with(half_cpu(3.7), [](Figures &f) { f.tolerance = 0.5; }), Verdict::faster},
	    {"early within the margin, tight tolerance",
	        with(half_cpu(9.85), [](Figures &f) { f.seconds = 5; f.tolerance = 0.01; }),
	        Verdict::faster},
	    {"no quota, on time", with(half_cpu(1.02), no_quota), Verdict::ok},
	    {"no quota, slow", with(half_cpu(1.5), no_quota), Verdict::slower_contention},
	    {"throttled all along", with(half_cpu(6.0), [](Figures &f) { f.throttled = 59; }),
	        Verdict::slower_throttled},
	    {"quota not reached", with(half_cpu(6.0), [](Figures &f) { f.throttled = 20; }),
	        Verdict::slower_contention},
	    {"idle in the middle", with(half_cpu(6.0), [](Figures &f) { f.periods = f.throttled = 40; }),
	        Verdict::slower_contention},
	    /* A burst of 0.4 s lets 2 s of work at 0.5 CPU end 0.8 s sooner. */
	    {"early by what the burst allows", with(half_cpu(3.25), [](Figures &f) { f.burst = 0.4; }),
	        Verdict::ok},
	    {"early past what the burst allows", with(half_cpu(2.9), [](Figures &f) { f.burst = 0.4; }),
	        Verdict::faster},
	    {"other work got the rest of the quota", with(half_cpu(8.0), [](Figures &f) {
	        f.group_usage = 4.0; f.throttled = 20; }), Verdict::ok_shared},
	    {"other work, and the group short of its quota", with(half_cpu(8.0), [](Figures &f) {
	        f.group_usage = 3.0; f.throttled = 20; }), Verdict::slower_contention},
	    {"slow, with no other work", with(half_cpu(8.0), [](Figures &f) {
	        f.group_usage = 2.01; f.throttled = 20; }), Verdict::slower_contention},
	    {"the limit intended", with(half_cpu(4.0), [](Figures &f) { f.expect = 0.503; }),
	        Verdict::ok},
	    {"not the limit intended", with(half_cpu(4.0), [](Figures &f) { f.expect = 1; }),
	        Verdict::unexpected_limit},
	    {"ten times tighter than intended", with(half_cpu(4.0), [](Figures &f) { f.expect = 5; }),
	        Verdict::unexpected_limit},
	    {"changed during the check", with(half_cpu(3.0), [](Figures &f) {
	        f.found_after = 1; f.expect = 0.5; }), Verdict::limit_changed},
	};
	for (const Case &c : cases)
		EXPECT_EQ(verdict_name(judge(c.f)), verdict_name(c.want)) << c.what;
	EXPECT_NE(verdict_text(Verdict::ok_shared, cases[13].f).find("other work"), std::string::npos);
}

TEST(Causes, TheLargestNamesWhyARunWasSlow)
{
	struct Case {
		const char *what;
		Figures f;
		const char *largest;
		double seconds;
	};
	/* Held to half a CPU, one copy waits 2 s of its 4 and each is throttled as long. */
	Figures throttled = half_cpu(6.0);
	throttled.throttled_time = 3.9;
	throttled.run_queue = 3.9;
	Figures shared = half_cpu(8.0);
	shared.group_usage = 4.0 + 0.01;
	shared.checker_cpu = 0.01;
	shared.run_queue = 5.9;
	shared.throttled_time = 5.9;
	/* Two copies on one CPU with no quota, each waiting past its share. */
	Figures queued;
	queued.copies = 2;
	queued.seconds = 1;
	queued.cpus = 1;
	queued.capacity = 1;
	queued.wall = 3;
	queued.copies_cpu = 2;
	queued.group_usage = 2;
	queued.run_queue = 2;
	queued.steal = 0.1;
	/* Another process in the cgroup on its one CPU: the copy waits, the cgroup is under pressure. */
	Figures beside = queued;
	beside.copies = 1;
	beside.seconds = 2;
	beside.wall = 4;
	beside.group_usage = 4;
	beside.pressure = 4;
	beside.steal = -1;
	/* Frozen for 3 s of a run held to half a CPU, as a v1 freezer did it:
	 * the cgroup's other work is noise beside the time it was stopped. */
	Figures frozen = half_cpu(7.0);
	frozen.periods = 40;
	frozen.throttled = 40;
	frozen.throttled_time = 2.0;
	frozen.run_queue = 2.0;
	frozen.group_usage = 2.02;
	frozen.blocked = 3.0;
	/* Stopped for half the excess, beside other work that took all of it. */
	Figures stopped_beside = beside;
	stopped_beside.blocked = 1.0;
	const Case cases[] = {
	    {"throttled past the quota's share", throttled, "throttling", 1.9},
	    {"other work, though the wait is longer", beside, "other work in the cgroup", 2.0},
	    {"other work in the cgroup", shared, "other work in the cgroup", 4.0},
	    {"waiting for the CPU", queued, "waiting on a run queue", 1.0},
	    {"frozen", frozen, "stopped or blocked", 3.0},
	    {"other work, larger than a stop", stopped_beside, "other work in the cgroup", 2.0},
	};
	for (const Case &c : cases) {
		double seconds = 0;
		const char *got = largest_cause(causes(c.f), &seconds);
		ASSERT_NE(got, nullptr) << c.what;
		EXPECT_STREQ(got, c.largest) << c.what;
		EXPECT_NEAR(seconds, c.seconds, 1e-9) << c.what;
	}
	/* As in the systemd guest: other work beside the copy on the other CPU,
	 * both throttled, 11.9 s summed over the CPUs: no more than the 4 s
	 * excess is put down to throttling. */
	Figures beside_throttled = shared;
	beside_throttled.throttled_time = 11.9;
	EXPECT_DOUBLE_EQ(causes(beside_throttled).throttling, 4.0);
	double largest = 0;
	EXPECT_STREQ(largest_cause(causes(beside_throttled), &largest), "other work in the cgroup");
	/* Nothing known, nothing named; nor a cause below a tenth of the excess. */
	Figures none = half_cpu(6.0);
	double seconds = 0;
	EXPECT_EQ(largest_cause(causes(none), &seconds), nullptr);
	Figures unexplained = frozen;
	unexplained.blocked = -1;
	unexplained.throttled_time = 2.1;
	EXPECT_NEAR(causes(unexplained).other_work, 0.04, 1e-9);
	EXPECT_EQ(largest_cause(causes(unexplained), &seconds), nullptr);
	EXPECT_NE(verdict_text(Verdict::slower_contention, unexplained).find("nothing measured accounts"),
	    std::string::npos) << verdict_text(Verdict::slower_contention, unexplained);
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

TEST(JsonWriter, FieldsInOrderNestedAndNull)
{
	JsonWriter j;
	j.open()
	    .string("a", "x")
	    .open("b")
	    .integer("n", -3)
	    .close()
	    .open_array("c")
	    .open()
	    .boolean("t", true)
	    .close()
	    .open()
	    .close()
	    .close_array()
	    .number("d", 0.5)
	    .number("e", 1.0 / 0.0)
	    .number("f", 2, false)
	    .null("g")
	    .close();
	EXPECT_EQ(j.text(), "{\"a\":\"x\",\"b\":{\"n\":-3},\"c\":[{\"t\":true},{}],"
	    "\"d\":0.5,\"e\":null,\"f\":null,\"g\":null}");
}

}

namespace {

/* A report line as the checker writes it with --json, cut to what gathering reads. */
std::string
report_line(const char *node, const char *task, double ratio, const char *verdict)
{
	return std::string("{\"version\":\"1.2.0\",\"origin\":{\"node\":\"") + node +
	    "\",\"node_from\":\"SLURMD_NODENAME\",\"job\":\"7\",\"task\":\"" + task +
	    "\",\"pod\":null},\"limit_cpus\":1,\"capacity\":1,\"ratio\":" + std::to_string(ratio) +
	    ",\"verdict\":\"" + verdict + "\",\"message\":\"m\"}";
}

TEST(Gather, ReportsAmongOtherLines)
{
	struct Case {
		const char *what;
		std::string input;
		int expected;
		std::size_t reports;
		int other_lines, status;
	};
	const std::string n1 = report_line("n1", "0", 1.01, "ok");
	const std::string n2 = report_line("n2", "1", 1.02, "ok");
	const std::string n2_slow = report_line("n2", "1", 1.9, "slower-not-throttled");
	const Case cases[] = {
	    {"every node held", n1 + "\n" + n2 + "\n", 2, 2, 0, 0},
	    {"mixed verdicts", n1 + "\n" + n2_slow + "\n", 0, 2, 0, 1},
	    {"a node missing", n1 + "\n", 2, 1, 0, 2},
	    {"lines that are not reports", "srun: error: n3: task 2: Exited\n" + n1 +
	        "\n{\"verdict\":\"ok\"}\n[1, 2]\n\n" + n2, 0, 2, 3, 0},
	    {"kubectl's prefix", "[pod/check-x/check-limit] " + n1 + "\n", 0, 1, 0, 0},
	    {"no report at all", "nothing here\n", 0, 0, 1, 2},
	    {"nothing", "", 0, 0, 0, 2},
	};
	for (const Case &c : cases) {
		const Gathering g = gather(c.input);
		EXPECT_EQ(g.reports.size(), c.reports) << c.what;
		EXPECT_EQ(g.other_lines, c.other_lines) << c.what;
		EXPECT_EQ(gathered_status(g, c.expected), c.status) << c.what;
	}
	const Gathering mixed = gather(n1 + "\n" + n2_slow + "\n");
	ASSERT_EQ(mixed.reports.size(), 2U);
	EXPECT_EQ(row_name(mixed.reports[1]), "n2 task 1");
	EXPECT_EQ(mixed.reports[1].verdict, "slower-not-throttled");
	EXPECT_DOUBLE_EQ(mixed.reports[1].ratio, 1.9);
}

TEST(Origin, TheBatchSystemsNameFirst)
{
	setenv("SLURMD_NODENAME", "n1", 1);
	setenv("NODE_NAME", "k8s-node", 1);
	setenv("SLURM_PROCID", "3", 1);
	EXPECT_EQ(origin_from_environment().node, "n1");
	EXPECT_EQ(origin_from_environment().node_from, "SLURMD_NODENAME");
	EXPECT_EQ(origin_from_environment().task, "3");
	unsetenv("SLURMD_NODENAME");
	EXPECT_EQ(origin_from_environment().node, "k8s-node");
	unsetenv("NODE_NAME");
	EXPECT_EQ(origin_from_environment().node_from, "host name");
	EXPECT_NE(origin_from_environment().node, "");
	unsetenv("SLURM_PROCID");
}

}

namespace {

/* Each verdict's page: one series set, whichever verdict it gives. */
TEST(LimitMetrics, EveryVerdictOnTheSameSeries)
{
	struct Case {
		Verdict verdict;
		const char *name, *ok;
	};
	const Case cases[] = {
	    {Verdict::ok, "ok", "1"},
	    {Verdict::ok_shared, "ok", "1"},
	    {Verdict::faster, "faster", "0"},
	    {Verdict::slower_throttled, "slower-over-throttled", "0"},
	    {Verdict::slower_contention, "slower-not-throttled", "0"},
	    {Verdict::unexpected_limit, "unexpected-limit", "0"},
	    {Verdict::limit_changed, "limit-changed", "0"},
	};
	Report r;
	r.origin = {"n1", "SLURMD_NODENAME", "7", "0", ""};
	r.figures.wall = 1.25;
	r.figures.expect = 0.5;
	r.figures.found = 0.5;
	r.figures.run_queue = 0.2;
	const std::string labels = "node=\"n1\",job=\"7\",task=\"0\"";
	std::vector<std::string> first;
	for (const Case &c : cases) {
		r.verdict = c.verdict;
		const std::string page = limit_metrics(r, 1796927255.5);
		const std::vector<std::string> series = series_of(page);
		if (first.empty())
			first = series;
		EXPECT_EQ(series, first) << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_ok{" + labels + "}"), c.ok) << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_verdict{" + labels + ",verdict=\"" +
		    c.name + "\"}"), "1") << c.name;
		int ones = 0;
		for (const std::string &s : series) {
			if (s.rfind("cpuspend_limit_check_verdict{", 0) == 0)
				ones += value_of(page, s) == "1" ? 1 : 0;
		}
		EXPECT_EQ(ones, 1) << c.name;
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_ratio{" + labels + "}"), "1.25");
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_expected_limit_cpus{" + labels + "}"),
		    "0.5");
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_slow_seconds{" + labels +
		    ",cause=\"run_queue\"}"), "0.2");
		EXPECT_EQ(value_of(page, "cpuspend_limit_check_last_run_timestamp_seconds{" + labels +
		    "}"), "1796927255.5");
		if (have_promtool()) {
			EXPECT_EQ(promtool_problems(page), "") << c.name;
		}
	}
	const std::string cannot = cannot_check_metrics(r.origin, 0.5);
	EXPECT_EQ(value_of(cannot, "cpuspend_limit_check_ok{" + labels + "}"), "0");
	EXPECT_EQ(value_of(cannot, "cpuspend_limit_check_verdict{" + labels +
	    ",verdict=\"cannot-check\"}"), "1");
	EXPECT_EQ(value_of(cannot, "cpuspend_limit_check_verdict{" + labels +
	    ",verdict=\"ok\"}"), "0");
	EXPECT_NE(value_of(cannot, "cpuspend_limit_check_last_run_timestamp_seconds{" + labels +
	    "}"), "");
	if (have_promtool()) {
		EXPECT_EQ(promtool_problems(cannot), "");
	}
}

}
