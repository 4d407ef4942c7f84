// SPDX-License-Identifier: Apache-2.0
#include "dlpi.h"

#include <climits>
#include <cstring>

int dlpi_parselink(const char *linkname, char *provider, unsigned int *instance)
{
    if (linkname == nullptr)
        return DLPI_ELINKNAMEINVAL;
    const std::size_t len = std::strlen(linkname);
    std::size_t digits_at = len;
    while (digits_at > 0 && linkname[digits_at - 1] >= '0' && linkname[digits_at - 1] <= '9')
        --digits_at;
    // Needs both a provider name and an instance, and the name must fit.
    if (digits_at == len || digits_at == 0 || digits_at >= DLPI_LINKNAME_MAX)
        return DLPI_ELINKNAMEINVAL;

    unsigned long long value = 0;
    for (std::size_t i = digits_at; i < len; ++i) {
        value = value * 10 + static_cast<unsigned>(linkname[i] - '0');
        if (value > static_cast<unsigned long long>(INT_MAX))
            return DLPI_ELINKNAMEINVAL;
    }
    std::memcpy(provider, linkname, digits_at);
    provider[digits_at] = '\0';
    *instance = static_cast<unsigned int>(value);
    return DLPI_SUCCESS;
}
