// SPDX-License-Identifier: Apache-2.0
// The floor for timing llc2 -P and llc2 --apply from an empty driver: the
// emulated calls -P makes for n PPAs, in the same order, and the run-state
// record it keeps, with nothing else (no configuration files, no messages).
// Per PPA: plumb (I_PLINK, SETPPA) and write the link part; later enable,
// initialise, probe (GETPPA) and write the parameter part. Each part goes
// through a temporary file and a rename, as llc2's do, and nothing is synced.
// Usage: floor_plumb_all <n> <interface>; LLC2_ROOT as for llc2. PPA p is
// bound to instance p of the interface.
#include "llc2_driver.h"
#include "paths.h"
#include "streams.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

int request(int fd, int cmd, void *payload, int len)
{
    strioctl sio{cmd, LLC2_IOC_TIMEOUT, len, static_cast<char *>(payload)};
    return stream_ioctl(fd, &sio);
}

// Writes text as dir/name through dir/.name.tmp and a rename; true when done.
bool put(const std::string &dir, const std::string &name, const std::string &text)
{
    const std::string tmp = dir + "/." + name + ".tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && written && rename(tmp.c_str(), (dir + "/" + name).c_str()) == 0;
}

// About the size of llc2's parts: a header line and a few key=value lines.
std::string part(int ppa, const char *what, int lines)
{
    std::string s = "# the floor's record\n";
    for (int i = 0; i < lines; ++i)
        s += std::string(what) + std::to_string(i) + "=" + std::to_string(ppa) + "\n";
    return s;
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
    const std::string records = rooted_path(LLC2_RUNSTATEDIR "/llc2");
    // The run-state directory's parent is there on any host that runs the
    // driver; only the directory itself may be missing.
    if (mkdir(records.c_str(), 0755) != 0 && access(records.c_str(), W_OK) != 0)
        return 1;

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
        if (link_id < 0 || request(fd, LLC2_IOC_SETPPA, &bind, sizeof bind) < 0 ||
            !put(records, "ppa." + std::to_string(ppa) + ".link", part(ppa, "link", 3)))
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
        ppa_info now{};
        now.ppa = static_cast<std::uint8_t>(ppa);
        if (request(fd, LLC2_IOC_ENABLE, &enable, sizeof enable) < 0 ||
            request(fd, LLC2_IOC_CONTROL, &init, sizeof init) < 0 ||
            request(fd, LLC2_IOC_GETPPA, &now, sizeof now) < 0 ||
            !put(records, "ppa." + std::to_string(ppa) + ".params", part(now.id, "param", 14)))
            return 1;
    }
    stream_close(fd);
    return 0;
}
