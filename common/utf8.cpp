// SPDX-License-Identifier: Apache-2.0
#include "utf8.h"

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
