// SPDX-License-Identifier: Apache-2.0
// A MAC address as llc2 shows and records it, in one spelling everywhere:
// the table, the JSON documents and the applied records compare alike.
#ifndef LLC2_CMD_MAC_TEXT_H
#define LLC2_CMD_MAC_TEXT_H

#include <cstdint>
#include <span>
#include <string>

// The six bytes as twelve lower-case hexadecimal digits, no separators:
// "0800200a8c6d".
std::string mac_text(std::span<const std::uint8_t, 6> mac);

#endif
