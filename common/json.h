// SPDX-License-Identifier: ISC
#ifndef CPUSPEND_COMMON_JSON_H
#define CPUSPEND_COMMON_JSON_H

/*
 * JSON for the checkers' reports: one object, written in the order its
 * fields are given, always valid whatever bytes the strings held.
 */

#include <string>

/* text with every byte that is not well-formed UTF-8 made U+FFFD. */
std::string valid_utf8(const std::string &text);

/* text as a JSON string: quoted, escaped, and valid UTF-8 whatever it held. */
std::string json_string(const std::string &text);

/*
 * Each call adds one item to the object or array last opened; key is its
 * name in an object and nullptr in an array.  A number that is not finite,
 * or not known, is written as null.
 */
class JsonWriter {
public:
	JsonWriter &open(const char *key = nullptr);
	JsonWriter &close();
	JsonWriter &open_array(const char *key);
	JsonWriter &close_array();
	JsonWriter &number(const char *key, double value, bool known = true);
	JsonWriter &integer(const char *key, long long value);
	JsonWriter &string(const char *key, const std::string &value);
	/* A string, or null where it is empty: a figure not known. */
	JsonWriter &string_or_null(const char *key, const std::string &value);
	JsonWriter &boolean(const char *key, bool value);
	JsonWriter &null(const char *key);
	[[nodiscard]] const std::string &text() const { return out_; }

private:
	JsonWriter &item(const char *key, const std::string &value);
	JsonWriter &begin(const char *key, const char *bracket);
	JsonWriter &end(char bracket);
	std::string out_;
	bool fresh_ = true; /* nothing yet in the innermost object or array */
};

#endif
