// SPDX-License-Identifier: Apache-2.0
// The few pieces of JSON that llc2 and llc2conf write: objects of strings,
// numbers, booleans and nulls, built as text. Neither needs a library for it.
#ifndef LLC2_COMMON_JSON_H
#define LLC2_COMMON_JSON_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends text as a JSON string, quotes included. '"' and '\' are escaped,
// and so is every byte below 0x20 and 0x7f; well-formed UTF-8 passes as it
// is, and each byte of a malformed sequence becomes U+FFFD, so the result is
// valid JSON whatever the bytes were.
void json_string(std::string &out, std::string_view text);

// One object being written: {"key": value, ...}. Keys are this program's
// own words; each call appends one member.
struct json_object {
    std::string text = "{";
};
void json_str(json_object &o, std::string_view key, std::string_view value);
void json_num(json_object &o, std::string_view key, std::int64_t value);
void json_bool(json_object &o, std::string_view key, bool value);
void json_null(json_object &o, std::string_view key);
// A member whose value is JSON text already: an object or array built here.
void json_raw(json_object &o, std::string_view key, std::string_view value);
// The object's text, closed.
std::string json_end(json_object &o);

// An array of strings ("[\"acktimer\",\"maxretry\"]"), or of numbers.
std::string json_string_array(const std::vector<const char *> &items);
std::string json_number_array(const std::vector<int> &items);

#endif
