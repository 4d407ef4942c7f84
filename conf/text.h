// SPDX-License-Identifier: Apache-2.0
// Messages built into a string rather than written, for callers that report
// a configuration file's fault in words of their own (a JSON document, a
// status line). Internal to llc2_conf.
#ifndef LLC2_CONF_TEXT_H
#define LLC2_CONF_TEXT_H

#include <cstdio>
#include <string>

// format (a catalogue text of this program, never outside text) with args,
// which are plain values, without the newline the message ends with.
template <typename... Args> std::string conf_text(const char *format, Args... args)
{
    const int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    (void)std::snprintf(text.data(), text.size() + 1, format, args...);
    if (text.back() == '\n')
        text.pop_back();
    return text;
}

#endif
