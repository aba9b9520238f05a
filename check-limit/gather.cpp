// SPDX-License-Identifier: ISC
#include "gather.h"

#include <nlohmann/json.hpp>

using Json = nlohmann::json;

static std::string
text(const Json &j, const char *key)
{
	return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : "";
}

static double
number(const Json &j, const char *key)
{
	return j.contains(key) && j[key].is_number() ? j[key].get<double>() : -1;
}

/* A check's report: an object with a verdict, the limit and the ratio. */
static bool
report(const std::string &line, Gathered *g)
{
	const std::size_t brace = line.find('{');
	if (brace == std::string::npos)
		return false;
	const Json j = Json::parse(line.substr(brace), nullptr, false);
	if (j.is_discarded() || !j.is_object() || text(j, "verdict").empty() ||
	    !j.contains("limit_cpus") || !j.contains("ratio"))
		return false;
	if (j.contains("origin") && j["origin"].is_object()) {
		const Json &o = j["origin"];
		g->origin.node = text(o, "node");
		g->origin.node_from = text(o, "node_from");
		g->origin.job = text(o, "job");
		g->origin.task = text(o, "task");
		g->origin.pod = text(o, "pod");
	}
	g->limit_cpus = number(j, "limit_cpus");
	g->capacity = number(j, "capacity");
	g->ratio = number(j, "ratio");
	g->verdict = text(j, "verdict");
	g->message = text(j, "message");
	return true;
}

Gathering
gather(const std::string &input)
{
	Gathering all;
	std::size_t start = 0;
	while (start < input.size()) {
		std::size_t end = input.find('\n', start);
		if (end == std::string::npos)
			end = input.size();
		const std::string line = input.substr(start, end - start);
		start = end + 1;
		if (line.find_first_not_of(" \t\r") == std::string::npos)
			continue;
		Gathered g;
		if (report(line, &g))
			all.reports.push_back(g);
		else
			all.other_lines++;
	}
	return all;
}

std::string
row_name(const Gathered &g)
{
	std::string name = g.origin.node.empty() ? "(unnamed)" : g.origin.node;
	if (!g.origin.pod.empty())
		name += " pod " + g.origin.pod;
	else if (!g.origin.task.empty())
		name += " task " + g.origin.task;
	return name;
}
