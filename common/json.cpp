// SPDX-License-Identifier: Apache-2.0
#include "json.h"

#include "utf8.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace
{

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

std::string json_string_array(const std::vector<const char *> &items)
{
    std::string out = "[";
    for (const char *item : items) {
        if (out.size() > 1)
            out += ',';
        json_string(out, item);
    }
    return out + "]";
}

std::string json_number_array(const std::vector<int> &items)
{
    std::string out = "[";
    for (const int item : items)
        out += (out.size() > 1 ? "," : "") + std::to_string(item);
    return out + "]";
}
