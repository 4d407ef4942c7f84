// SPDX-License-Identifier: Apache-2.0
// llc2 --metrics writes the Prometheus text exposition format, version
// 0.0.4, which node_exporter's textfile collector reads. Label values are
// the one place where text from outside (device names from configuration
// files and records) reaches it.
#ifndef LLC2_CMD_METRICS_H
#define LLC2_CMD_METRICS_H

#include <cstddef>
#include <string>
#include <string_view>

// The most bytes a label value keeps of the text it is made from: a device
// name may be a thousand bytes long, and every sample of its series carries
// it.
inline constexpr std::size_t LABEL_VALUE_MAX = 128;

// Appends value as a label value, quotes included: '\', '"' and newline
// escaped as the format wants (no other escape exists there, so other
// control characters pass as they are), each byte of malformed UTF-8 as
// U+FFFD, and cut after at most LABEL_VALUE_MAX bytes of that text, at a
// character boundary.
void label_value(std::string &out, std::string_view value);

#endif
