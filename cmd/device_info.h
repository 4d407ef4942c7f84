// SPDX-License-Identifier: Apache-2.0
// What the driver reports for one PPA through DLPI, learnt by attaching the
// control stream to the PPA, asking for its information and detaching again.
#ifndef LLC2_CMD_DEVICE_INFO_H
#define LLC2_CMD_DEVICE_INFO_H

#include <cstdint>

// The four fields of a DL_INFO_ACK that the status shows.
struct dlpi_facts {
    std::uint32_t mac_type = 0;
    std::uint32_t max_sdu = 0;
    std::uint32_t min_sdu = 0;
    std::uint32_t service_mode = 0;
};

// Runs the attach, info and detach exchange for ppa on the control stream fd
// (neither opened nor closed here). 0 with facts filled from the
// DL_INFO_ACK; -1, facts untouched, when the driver did not tell, with errno
// ETIME when a reply never came within its wait (EPROTO otherwise). Writes
// nothing to standard output; failures say why on standard error only while
// debug is above 0.
// *unanswered, when given, tells whether any of the exchange's replies
// never came in time (the detach's too, after which facts still stand).
int get_device_info(int ppa, int fd, dlpi_facts &facts, bool *unanswered = nullptr);

// The medium's word ("ethernet", "csma/cd", "tkn-ring", "fddi"), or null for
// a type without a name of its own.
const char *medium_word(std::uint32_t mac_type);

// The four columns Type, MaxSDU, MinSDU and Mode of a status-table row, with
// "%7s %6lu %6lu %4lx "; a type without a name shows the catalogue's
// "unknown".
void print_device_info(const dlpi_facts &facts);

#endif
