// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the check of a DLPI reply, fed any bytes as the reply, any
// length getmsg might leave, and each step's expectations. A reply judged
// good must be the expected primitive and long enough; a short one must say
// EPROTO; nothing may be read past the 76-byte area.
#include "dlpi_reply.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

struct step {
    t_uscalar_t expect;
    int min_size;
};

// The attach, info and detach steps.
constexpr std::array<step, 3> STEPS{{
    {DL_OK_ACK, PRIMITIVE_SIZE},
    {DL_INFO_ACK, INFO_ACK_SIZE},
    {DL_OK_ACK, 0},
}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    // Byte 0: the step; bytes 1-2: the length getmsg left (signed, so -1
    // and lengths past the area come up); byte 3: getmsg's result.
    const step &s = STEPS[data[0] % STEPS.size()];
    std::int16_t len = 0;
    std::memcpy(&len, data + 1, sizeof len);
    const int rc = data[3] & 3;
    // The area is exactly as large as the caller's, on the heap so that a
    // read past it is caught.
    std::vector<char> area(sizeof(dl_info_ack_t), 0);
    std::memcpy(area.data(), data + 4, std::min(size - 4, area.size()));

    errno = EINTR;
    const dlpi_reply r = dlpi_check_reply(area.data(), len, rc, s.expect, s.min_size);
    t_uscalar_t first = 0;
    std::memcpy(&first, area.data(), sizeof first);
    switch (r.fault) {
    case dlpi_fault::none:
        if (len < PRIMITIVE_SIZE || len < s.min_size || first != s.expect || errno != 0)
            std::abort();
        break;
    case dlpi_fault::length:
        if (errno != EPROTO || (len >= PRIMITIVE_SIZE && len >= s.min_size))
            std::abort();
        break;
    case dlpi_fault::primitive:
        if (first == s.expect || r.primitive != first || len < PRIMITIVE_SIZE)
            std::abort();
        break;
    default:
        std::abort(); // the check never reports a failed call
    }
    if (r.more != rc)
        std::abort();
    return 0;
}
