// SPDX-License-Identifier: Apache-2.0
#include "mac_text.h"

std::string mac_text(std::span<const std::uint8_t, 6> mac)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string s;
    for (const std::uint8_t b : mac) {
        s += digits[b >> 4U];
        s += digits[b & 0xfU];
    }
    return s;
}
