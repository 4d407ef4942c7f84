// SPDX-License-Identifier: Apache-2.0
#include "json.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace
{

// The length of the well-formed UTF-8 sequence at the start of s (2 to 4),
// or 0 when there is none: no overlong forms, no surrogates, nothing above
// U+10FFFF.
std::size_t utf8_sequence(std::string_view s)
{
    const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t len = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        len = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        len = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        len = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (s.size() < len || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xbf)
            return 0;
    return len;
}

void key(json_object &o, std::string_view name)
{
    if (o.text.size() > 1)
        o.text += ',';
    json_string(o.text, name);
    o.text += ':';
}

} // namespace

void json_string(std::string &out, std::string_view text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t len = utf8_sequence(text.substr(i));
            if (len == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out += text.substr(i, len);
                i += len;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                std::array<char, 8> esc{};
                (void)std::snprintf(esc.data(), esc.size(), "\\u%04x", c);
                out += esc.data();
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void json_str(json_object &o, std::string_view name, std::string_view value)
{
    key(o, name);
    json_string(o.text, value);
}

void json_num(json_object &o, std::string_view name, std::int64_t value)
{
    key(o, name);
    o.text += std::to_string(value);
}

void json_bool(json_object &o, std::string_view name, bool value)
{
    key(o, name);
    o.text += value ? "true" : "false";
}

void json_null(json_object &o, std::string_view name)
{
    key(o, name);
    o.text += "null";
}

void json_raw(json_object &o, std::string_view name, std::string_view value)
{
    key(o, name);
    o.text += value;
}

std::string json_end(json_object &o)
{
    o.text += '}';
    return std::move(o.text);
}
