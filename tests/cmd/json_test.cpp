// SPDX-License-Identifier: Apache-2.0
// The JSON writer's strings: what each odd byte becomes, and that a real
// parser reads back what was meant, whatever the bytes were.
#include "json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace
{

TEST(JsonString, EscapesAndDecodes)
{
    const struct {
        std::string in;
        const char *written; // between the quotes
        const char *decoded; // as a parser reads it back (UTF-8)
    } cases[] = {
        // clang-format off
        {"xnic", "xnic", "xnic"},
        {"", "", ""},
        {"a\"b", "a\\\"b", "a\"b"},
        {"a\\b", "a\\\\b", "a\\b"},
        {"\t\n\r", "\\t\\n\\r", "\t\n\r"},
        {std::string("a\0b", 3), "a\\u0000b", nullptr},
        {"\x01\x1b[2J\x1f", "\\u0001\\u001b[2J\\u001f", "\x01\x1b[2J\x1f"},
        {"\x7f", "\\u007f", "\x7f"},
        {"/", "/", "/"},
        {"n\xc3\xa4me\xe2\x82\xac\xf0\x9f\x98\x80", "n\xc3\xa4me\xe2\x82\xac\xf0\x9f\x98\x80", "n\xc3\xa4me\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"\xff", "\\ufffd", "\xef\xbf\xbd"},
        {"a\xc3", "a\\ufffd", "a\xef\xbf\xbd"},                  // cut short at the end
        {"\xc3\x28", "\\ufffd(", "\xef\xbf\xbd("},              // bad continuation
        {"\xc0\xaf", "\\ufffd\\ufffd", "\xef\xbf\xbd\xef\xbf\xbd"}, // overlong '/'
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}, // surrogate
        {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}, // past U+10FFFF
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        std::string out;
        json_string(out, c.in);
        EXPECT_EQ(out, std::string("\"") + c.written + "\"");
        const nlohmann::json parsed = nlohmann::json::parse(out);
        EXPECT_EQ(parsed.get<std::string>(), c.decoded != nullptr ? c.decoded : c.in);
    }
}

TEST(JsonString, EveryByteGivesValidJson)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    std::string out;
    json_string(out, all);
    const std::string back = nlohmann::json::parse(out).get<std::string>();
    // ASCII comes back as it was; each byte from 0x80 up is malformed alone.
    EXPECT_EQ(back.substr(0, 128), all.substr(0, 128));
    EXPECT_EQ(back.size(), 128U + 128U * 3U);
}

TEST(JsonObject, MembersInOrder)
{
    json_object o;
    json_num(o, "ppa", -1);
    json_str(o, "device", "x\"y");
    json_bool(o, "configured", false);
    json_null(o, "error");
    json_num(o, "max_sdu", 4294967295);
    EXPECT_EQ(json_end(o),
              R"({"ppa":-1,"device":"x\"y","configured":false,"error":null,"max_sdu":4294967295})");
    json_object empty;
    EXPECT_EQ(json_end(empty), "{}");
}

} // namespace
