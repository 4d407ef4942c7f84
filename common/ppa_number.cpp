// SPDX-License-Identifier: Apache-2.0
#include "ppa_number.h"

#include <charconv>
#include <cstring>
#include <system_error>

bool parse_ppa(const char *text, int *ppa)
{
    if (text == nullptr)
        return false;
    // from_chars takes exactly the form we want: an optional '-', digits,
    // no '+', no leading blanks, and it reports overflow instead of wrapping.
    const char *const end = text + std::strlen(text);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text, end, value, 10);
    if (ec != std::errc() || ptr != end)
        return false;
    *ppa = value;
    return true;
}
