// SPDX-License-Identifier: Apache-2.0
// Names from a configuration file or the command line, as messages and
// listings show them.
#ifndef LLC2_NAMES_H
#define LLC2_NAMES_H

#include <string>
#include <string_view>

// name with every byte below 0x20, the byte 0x7f and the backslash written
// as a C escape ("\n", "\t", "\\", "\033"), so that no name can move the
// cursor, clear a terminal or forge a line of its own. Bytes from 0x80 up
// stand as they are: names may be UTF-8.
inline std::string shown_name(std::string_view name)
{
    constexpr std::string_view named = "\a\b\t\n\v\f\r\\";
    constexpr std::string_view letters = "abtnvfr\\";
    std::string out;
    out.reserve(name.size());
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (const std::size_t at = named.find(ch); at != std::string_view::npos) {
            out += '\\';
            out += letters[at];
        } else if (c < 0x20 || c == 0x7f) {
            out += '\\';
            out += static_cast<char>('0' + ((c >> 6) & 7));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
        } else {
            out += ch;
        }
    }
    return out;
}

#endif
