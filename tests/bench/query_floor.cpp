// SPDX-License-Identifier: Apache-2.0
// The floor under `llc2 -q`: the same STREAMS calls in the same order, made
// by a process that does nothing else (no configuration files, no output).
// What llc2 takes beyond this run is the tool's own cost; this run itself is
// process start plus the round trips to the driver. Linked with the platform
// layer alone. Prints the number of PPAs found, for a check by eye; with the
// argument "start" it ends at once, so that its own start can be taken off.
#include "dlpi.h"
#include "llc2_driver.h"
#include "paths.h"
#include "streams.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace
{

// putmsg, poll and getmsg of one DLPI request, as the table makes them.
void exchange(int fd, std::array<char, sizeof(dl_info_ack_t)> &area, t_uscalar_t primitive, int len,
              t_uscalar_t ppa)
{
    std::memcpy(area.data(), &primitive, sizeof primitive);
    std::memcpy(area.data() + 4, &ppa, sizeof ppa);
    strbuf ctl{len, len, area.data()};
    if (stream_putmsg(fd, &ctl, nullptr, 0) < 0)
        return;
    pollfd pfd{fd, POLLPRI, 0};
    if (stream_poll(&pfd, 1, 10000) <= 0)
        return;
    ctl.maxlen = static_cast<int>(area.size());
    ctl.len = 0;
    int flags = 0;
    (void)stream_getmsg(fd, &ctl, nullptr, &flags);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "start") == 0)
        return 0;
    const std::string path = rooted_path("/dev/llc2");
    const int fd = stream_open(path.c_str(), O_RDWR);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    int found = 0;
    std::array<char, sizeof(dl_info_ack_t)> area{};
    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa) {
        ppa_info info{};
        info.ppa = static_cast<std::uint8_t>(ppa);
        strioctl sio{LLC2_IOC_GETPPA, LLC2_IOC_TIMEOUT, sizeof info,
                     reinterpret_cast<char *>(&info)};
        if (stream_ioctl(fd, &sio) < 0) {
            if (errno == ENOENT)
                continue;
            break;
        }
        ++found;
        const auto p = static_cast<t_uscalar_t>(ppa);
        exchange(fd, area, DL_ATTACH_REQ, sizeof(dl_attach_req_t), p);
        exchange(fd, area, DL_INFO_REQ, sizeof(dl_info_req_t), p);
        exchange(fd, area, DL_DETACH_REQ, sizeof(dl_detach_req_t), p);
    }
    stream_close(fd);
    std::printf("%d\n", found);
    return 0;
}
