// The floor for timing llc2 -P: the emulated calls -P makes for n PPAs, in
// the same order, with nothing else (no configuration files, no messages).
// Usage: floor_plumb_all <n> <interface>; LLC2_ROOT as for llc2. PPA p is
// bound to instance p of the interface.
#include "llc2_driver.h"
#include "paths.h"
#include "streams.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>

namespace
{

int request(int fd, int cmd, void *payload, int len)
{
    strioctl sio{cmd, LLC2_IOC_TIMEOUT, len, static_cast<char *>(payload)};
    return stream_ioctl(fd, &sio);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs("usage: floor_plumb_all <n> <interface>\n", stderr);
        return 2;
    }
    const int n = std::atoi(argv[1]);
    const std::string control = rooted_path("/dev/llc2");
    const std::string device = rooted_path(std::string("/dev/") + argv[2]);

    int fd = stream_open(control.c_str(), O_RDWR);
    if (fd < 0)
        return 1;
    for (int ppa = 0; ppa < n; ++ppa) {
        const int lower = stream_open(device.c_str(), O_RDWR);
        if (lower < 0)
            return 1;
        const int link_id = stream_link(fd, lower);
        stream_close(lower);
        ppa_link bind{ppa, LLC2_LINK_CMD, link_id, ppa};
        if (link_id < 0 || request(fd, LLC2_IOC_SETPPA, &bind, sizeof bind) < 0)
            return 1;
    }
    stream_close(fd);

    fd = stream_open(control.c_str(), O_RDWR);
    if (fd < 0)
        return 1;
    for (int ppa = 0; ppa < n; ++ppa) {
        ppa_enable enable{};
        enable.all = LLC2_ENABLE_ALL;
        enable.ppa = ppa;
        ctl_init init{};
        init.ppa = ppa;
        init.msg_type = LLC2_CTL_INIT;
        if (request(fd, LLC2_IOC_ENABLE, &enable, sizeof enable) < 0 ||
            request(fd, LLC2_IOC_CONTROL, &init, sizeof init) < 0)
            return 1;
    }
    stream_close(fd);
    return 0;
}
