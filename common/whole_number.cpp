// SPDX-License-Identifier: Apache-2.0
#include "whole_number.h"

#include <charconv>
#include <string>
#include <system_error>

std::optional<long long> whole_number(std::string_view text, long long low, long long high)
{
    long long v = 0;
    const char *end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, v);
    // from_chars alone takes "05" and "-0"; only the one spelling is ours.
    if (ec != std::errc() || stop != end || v < low || v > high || std::to_string(v) != text)
        return std::nullopt;
    return v;
}
