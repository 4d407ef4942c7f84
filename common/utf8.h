// SPDX-License-Identifier: Apache-2.0
// Text from outside (device names from files and records) written where only
// UTF-8 may stand: JSON strings, Prometheus label values.
#ifndef LLC2_COMMON_UTF8_H
#define LLC2_COMMON_UTF8_H

#include <cstddef>
#include <string_view>

// The length of the well-formed UTF-8 sequence at the start of s (2 to 4),
// or 0 when there is none: no overlong forms, no surrogates, nothing above
// U+10FFFF. s is not empty; a byte below 0x80 is the caller's to take as
// it is.
std::size_t utf8_sequence(std::string_view s);

#endif
