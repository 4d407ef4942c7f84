// SPDX-License-Identifier: Apache-2.0
// Checking a DLPI reply that getmsg has read: is it the primitive the step
// waits for, and long enough for the fields the step reads? Kept apart from
// the stream calls so that any bytes and lengths can be fed to it.
#ifndef LLC2_CMD_DLPI_REPLY_H
#define LLC2_CMD_DLPI_REPLY_H

#include "dlpi.h"

#include <cstddef>

// The shortest replies anything can be read from: a primitive, and a
// DL_INFO_ACK reaching to the end of dl_service_mode, the last field shown.
inline constexpr int PRIMITIVE_SIZE = sizeof(t_uscalar_t);
inline constexpr int INFO_ACK_SIZE = offsetof(dl_info_ack_t, dl_service_mode) + sizeof(t_uscalar_t);
static_assert(INFO_ACK_SIZE == 36);

// Where one request and its reply went wrong, in the order they are met.
enum class dlpi_fault {
    none,      // the expected primitive, long enough
    send,      // putmsg failed
    wait,      // no reply within the wait, or poll failed
    read,      // getmsg failed
    length,    // too short for the fields the step reads (errno EPROTO)
    primitive, // some other primitive
};

struct dlpi_reply {
    dlpi_fault fault;
    int more;              // getmsg's positive result: part of the message is still queued
    t_uscalar_t primitive; // what came, once a primitive was read
};

// Judges a reply of len bytes at the start of area (which holds at least
// PRIMITIVE_SIZE bytes; len may be anything getmsg left, -1 for no control
// part). rc is what getmsg returned, 0 or more. errno is 0 afterwards, or
// EPROTO for a reply too short: a read that worked sets none, and a message
// about the reply must not name a stale error.
dlpi_reply dlpi_check_reply(const char *area, int len, int rc, t_uscalar_t expect, int min_size);

#endif
