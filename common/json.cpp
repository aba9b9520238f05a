// SPDX-License-Identifier: ISC
#include "json.h"

#include <cmath>
#include <cstdio>

/*
 * The well-formed UTF-8 sequences, after RFC 3629: the range of the first
 * byte, the range of the second, and the length.  Nothing else is UTF-8:
 * no overlong form, no surrogate, nothing past U+10FFFF.
 */
struct Utf8Form {
	unsigned char first_low, first_high, second_low, second_high;
	std::size_t length;
};
static constexpr Utf8Form utf8_forms[] = {
    {0x00, 0x7f, 0x00, 0x00, 1},
    {0xc2, 0xdf, 0x80, 0xbf, 2},
    {0xe0, 0xe0, 0xa0, 0xbf, 3},
    {0xe1, 0xec, 0x80, 0xbf, 3},
    {0xed, 0xed, 0x80, 0x9f, 3},
    {0xee, 0xef, 0x80, 0xbf, 3},
    {0xf0, 0xf0, 0x90, 0xbf, 4},
    {0xf1, 0xf3, 0x80, 0xbf, 4},
    {0xf4, 0xf4, 0x80, 0x8f, 4},
};
static constexpr unsigned char continuation_low = 0x80;
static constexpr unsigned char continuation_high = 0xbf;
static constexpr char replacement_character[] = "\xef\xbf\xbd";
static constexpr unsigned char delete_character = 0x7f;

/* The length of the well-formed UTF-8 sequence at text[i], or 0. */
static std::size_t
utf8_length(const std::string &text, std::size_t i)
{
	const auto byte = [&](std::size_t k) {
		return k < text.size() ? static_cast<unsigned char>(text[k]) : 0U;
	};
	const auto within = [](unsigned c, unsigned low, unsigned high) {
		return c >= low && c <= high;
	};
	for (const Utf8Form &form : utf8_forms) {
		if (!within(byte(i), form.first_low, form.first_high))
			continue;
		if (form.length > 1 && !within(byte(i + 1), form.second_low, form.second_high))
			return 0;
		for (std::size_t k = 2; k < form.length; k++) {
			if (!within(byte(i + k), continuation_low, continuation_high))
				return 0;
		}
		return form.length;
	}
	return 0;
}

std::string
valid_utf8(const std::string &text)
{
	std::string out;
	for (std::size_t i = 0; i < text.size();) {
		const std::size_t length = utf8_length(text, i);
		if (length == 0) {
			out += replacement_character;
			i++;
		} else {
			out.append(text, i, length);
			i += length;
		}
	}
	return out;
}

/*
 * Quotes and backslashes are escaped, and so are control characters, as
 * \u00XX.  A well-formed UTF-8 sequence is copied whole; any other byte
 * becomes U+FFFD, so that the output is always valid JSON text.
 */
std::string
json_string(const std::string &text)
{
	std::string out = "\"";
	for (std::size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		const std::size_t length = utf8_length(text, i);
		if (c == '"' || c == '\\') {
			out += '\\';
			out += static_cast<char>(c);
		} else if (c < ' ' || c == delete_character) {
			char escaped[sizeof "\\u0000"];
			std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
			out += escaped;
		} else if (length == 0) {
			out += replacement_character;
		} else {
			out.append(text, i, length);
			i += length;
			continue;
		}
		i++;
	}
	return out + "\"";
}

JsonWriter &
JsonWriter::item(const char *key, const std::string &value)
{
	if (!fresh_)
		out_ += ',';
	if (key != nullptr)
		out_ += json_string(key) + ':';
	out_ += value;
	fresh_ = false;
	return *this;
}

JsonWriter &
JsonWriter::begin(const char *key, const char *bracket)
{
	item(key, bracket);
	fresh_ = true;
	return *this;
}

JsonWriter &
JsonWriter::end(char bracket)
{
	out_ += bracket;
	fresh_ = false;
	return *this;
}

JsonWriter &
JsonWriter::open(const char *key)
{
	return begin(key, "{");
}

JsonWriter &
JsonWriter::close()
{
	return end('}');
}

JsonWriter &
JsonWriter::open_array(const char *key)
{
	return begin(key, "[");
}

JsonWriter &
JsonWriter::close_array()
{
	return end(']');
}

JsonWriter &
JsonWriter::number(const char *key, double value, bool known)
{
	if (!known || !std::isfinite(value))
		return null(key);
	char text[sizeof "-1.234567890123e+308"];
	std::snprintf(text, sizeof text, "%.10g", value);
	return item(key, text);
}

JsonWriter &
JsonWriter::integer(const char *key, long long value)
{
	return item(key, std::to_string(value));
}

JsonWriter &
JsonWriter::string(const char *key, const std::string &value)
{
	return item(key, json_string(value));
}

JsonWriter &
JsonWriter::string_or_null(const char *key, const std::string &value)
{
	return value.empty() ? null(key) : string(key, value);
}

JsonWriter &
JsonWriter::boolean(const char *key, bool value)
{
	return item(key, value ? "true" : "false");
}

JsonWriter &
JsonWriter::null(const char *key)
{
	return item(key, "null");
}
