// SPDX-License-Identifier: Apache-2.0
#include "dlpi_reply.h"

#include <cerrno>
#include <cstring>

dlpi_reply dlpi_check_reply(const char *area, int len, int rc, t_uscalar_t expect, int min_size)
{
    errno = 0;
    if (len < PRIMITIVE_SIZE) {
        errno = EPROTO;
        return {dlpi_fault::length, rc, 0};
    }
    t_uscalar_t primitive = 0;
    std::memcpy(&primitive, area, sizeof primitive);
    if (primitive != expect)
        return {dlpi_fault::primitive, rc, primitive};
    if (len < min_size) {
        errno = EPROTO;
        return {dlpi_fault::length, rc, primitive};
    }
    return {dlpi_fault::none, rc, primitive};
}
