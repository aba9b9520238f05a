// SPDX-License-Identifier: ISC
/*
 * The metrics the checkers write: the text format, with the labels a node
 * may give it; the textfile replaced whole or left as it was; and the path
 * of a Pushgateway's group.
 */

#include "metrics.h"
#include "publish.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "metrics_page.h"

namespace {

TEST(MetricsWriter, SeriesAsPrometheusReadsThem)
{
	struct Case {
		Labels labels;
		double value;
		const char *line;
	};
	const Case cases[] = {
	    {{}, 1, "x 1\n"},
	    {{{"node", "n1"}}, 0.5, "x{node=\"n1\"} 0.5\n"},
	    {{{"node", "a\"b\\c\nd"}}, -2, "x{node=\"a\\\"b\\\\c\\nd\"} -2\n"},
	    {{{"node", "bad\xff"}}, 1, "x{node=\"bad\xef\xbf\xbd\"} 1\n"},
	    {{{"node", "n"}, {"pod", "p"}}, 1796927255.718221, "x{node=\"n\",pod=\"p\"} 1796927255.718221\n"},
	    {{}, 0.1, "x 0.1\n"},
	    {{}, 10, "x 10\n"},
	    {{}, -0.0, "x -0\n"},
	    {{}, 1e-7, "x 1e-07\n"},
	    {{}, std::strtod("nan", nullptr), "x NaN\n"},
	    {{}, std::strtod("inf", nullptr), "x +Inf\n"},
	    {{}, -std::strtod("inf", nullptr), "x -Inf\n"},
	};
	for (const Case &c : cases) {
		MetricsWriter m(c.labels);
		m.series("x", {}, c.value);
		EXPECT_EQ(m.text(), c.line);
	}
	MetricsWriter m(Labels{{"node", "n"}});
	m.gauge("x_seconds", "Help.", 1).family("y", "Y.").series("y", {{"verdict", "ok"}}, 1);
	EXPECT_EQ(m.text(), "# HELP x_seconds Help.\n# TYPE x_seconds gauge\nx_seconds{node=\"n\"} 1\n"
	    "# HELP y Y.\n# TYPE y gauge\ny{node=\"n\",verdict=\"ok\"} 1\n");
	if (have_promtool()) {
		EXPECT_EQ(promtool_problems(m.text()), "");
	}
}

TEST(MetricsWriter, OriginLabelsOnlyWhereKnown)
{
	EXPECT_EQ(origin_labels({"n", "host name", "", "", ""}), (Labels{{"node", "n"}}));
	EXPECT_EQ(origin_labels({"n", "SLURMD_NODENAME", "42", "0", ""}),
	    (Labels{{"node", "n"}, {"job", "42"}, {"task", "0"}}));
	EXPECT_EQ(origin_labels({"n", "NODE_NAME", "", "", "p"}),
	    (Labels{{"node", "n"}, {"pod", "p"}}));
}

/* The names in a directory, but . and .., in order. */
std::string
listing(const std::string &dir)
{
	std::set<std::string> names;
	DIR *d = opendir(dir.c_str());
	if (d == nullptr)
		return "(none)";
	while (const dirent *e = readdir(d)) {
		const std::string name = e->d_name;
		if (name != "." && name != "..")
			names.insert(name);
	}
	closedir(d);
	std::string all;
	for (const std::string &name : names)
		all += name + " ";
	return all;
}

class Textfile : public ::testing::Test {
protected:
	void SetUp() override
	{
		char path[] = "/tmp/cpuspend-textfile.XXXXXX";
		ASSERT_NE(mkdtemp(path), nullptr);
		dir_ = path;
	}
	void TearDown() override
	{
		std::system(("rm -rf " + dir_).c_str());
	}
	std::string dir_;
};

TEST_F(Textfile, ReplacedWholeWithNothingLeftBeside)
{
	const std::string path = dir_ + "/check.prom";
	std::ofstream(path) << "old 1\n";
	ASSERT_EQ(write_textfile(path.c_str(), "new 2\n"), "");
	EXPECT_EQ(file_contents(path), "new 2\n");
	EXPECT_EQ(listing(dir_), "check.prom ");
	struct stat st {};
	ASSERT_EQ(stat(path.c_str(), &st), 0);
	/* Readable by node-exporter, whatever the umask. */
	EXPECT_EQ(st.st_mode & 0777, 0644U);
}

TEST_F(Textfile, AFailureLeavesTheEarlierFileAndNoTemporary)
{
	const std::string path = dir_ + "/check.prom";
	std::ofstream(path) << "old 1\n";
	/* A directory where the file should be: the rename fails after the write. */
	const std::string in_the_way = dir_ + "/taken.prom";
	ASSERT_EQ(mkdir(in_the_way.c_str(), 0755), 0);
	const struct {
		std::string path, said;
	} cases[] = {
	    {dir_ + "/missing/check.prom", ": No such file or directory"},
	    {in_the_way, ": Is a directory"},
	};
	for (const auto &c : cases) {
		const std::string why = write_textfile(c.path.c_str(), "new 2\n");
		EXPECT_EQ(why, "cannot write " + c.path + c.said);
	}
	EXPECT_EQ(file_contents(path), "old 1\n");
	EXPECT_EQ(listing(dir_), "check.prom taken.prom ");
}

TEST(PushPath, PlainValuesAsTheyAreOthersInBase64)
{
	struct Case {
		const char *instance, *path;
	};
	const Case cases[] = {
	    {"node-1.example", "/metrics/job/cpuspend-check-limit/instance/node-1.example"},
	    {"a/b", "/metrics/job/cpuspend-check-limit/instance@base64/YS9i"},
	    {"ab?", "/metrics/job/cpuspend-check-limit/instance@base64/YWI_"},
	    {"node 1", "/metrics/job/cpuspend-check-limit/instance@base64/bm9kZSAx"},
	    {"", "/metrics/job/cpuspend-check-limit/instance@base64/="},
	};
	for (const Case &c : cases)
		EXPECT_EQ(push_path({"cpuspend-check-limit", c.instance}), c.path) << c.instance;
}

} // namespace
