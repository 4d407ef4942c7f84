// SPDX-License-Identifier: Apache-2.0
// Small wrappers over the platform seam for tests that drive llc2sim the way
// the tool does.
#ifndef LLC2_TESTS_DRV_H
#define LLC2_TESTS_DRV_H

#include "dlpi.h"
#include "llc2_driver.h"
#include "streams.h"

#include <array>
#include <cstring>
#include <fcntl.h>
#include <string>

// One I_STR request with the tool's envelope; errno is left as the call set it.
template <typename T> int drv_ioctl(int fd, int cmd, T &rec, int timeout = LLC2_IOC_TIMEOUT)
{
    strioctl sio{cmd, timeout, static_cast<int>(sizeof rec), reinterpret_cast<char *>(&rec)};
    return stream_ioctl(fd, &sio);
}

inline int drv_setppa(int fd, int ppa, int link_id, int instance)
{
    ppa_link rec{ppa, LLC2_LINK_CMD, link_id, instance};
    return drv_ioctl(fd, LLC2_IOC_SETPPA, rec);
}

// The link id GETLINK reports, or -1 with errno.
inline int drv_getlink(int fd, int ppa)
{
    ppa_link rec{ppa, LLC2_LINK_CMD, 0, 0};
    if (drv_ioctl(fd, LLC2_IOC_GETLINK, rec) < 0)
        return -1;
    return rec.link_id;
}

inline int drv_getppa(int fd, int ppa, ppa_info &out, int timeout = LLC2_IOC_TIMEOUT)
{
    out = ppa_info{};
    out.ppa = static_cast<std::uint8_t>(ppa);
    return drv_ioctl(fd, LLC2_IOC_GETPPA, out, timeout);
}

inline int drv_enable(int fd, int ppa)
{
    ppa_enable rec{};
    rec.all = LLC2_ENABLE_ALL;
    rec.ppa = ppa;
    return drv_ioctl(fd, LLC2_IOC_ENABLE, rec);
}

inline int drv_disable(int fd, int ppa)
{
    ppa_disable rec{0, ppa};
    return drv_ioctl(fd, LLC2_IOC_DISABLE, rec);
}

inline int drv_init(int fd, int ppa)
{
    ctl_init rec{};
    rec.ppa = ppa;
    rec.msg_type = LLC2_CTL_INIT;
    rec.acktimer = 2;
    return drv_ioctl(fd, LLC2_IOC_CONTROL, rec);
}

inline int drv_uninit(int fd, int ppa)
{
    ctl_uninit rec{ppa, LLC2_CTL_UNINIT};
    return drv_ioctl(fd, LLC2_IOC_CONTROL, rec);
}

// The DLPI steps of the status query, one at a time.
using dl_area = std::array<std::uint32_t, 19>;

inline int dl_send(int fd, std::uint32_t prim, std::uint32_t ppa = 0)
{
    std::uint32_t words[2] = {prim, ppa};
    strbuf ctl{0, prim == DL_ATTACH_REQ ? 8 : 4, reinterpret_cast<char *>(words)};
    return stream_putmsg(fd, &ctl, nullptr, 0);
}

inline int dl_wait(int fd, int timeout_ms = 10000)
{
    pollfd p{fd, POLLPRI, 0};
    return stream_poll(&p, 1, timeout_ms);
}

// getmsg into 76 bytes; *len gets the control length.
inline int dl_read(int fd, dl_area &area, int *len = nullptr, int maxlen = 76)
{
    area.fill(0xeeeeeeee);
    strbuf ctl{maxlen, 0, reinterpret_cast<char *>(area.data())};
    int flags = 0;
    const int r = stream_getmsg(fd, &ctl, nullptr, &flags);
    if (len != nullptr)
        *len = ctl.len;
    return r;
}

// A plumbed PPA made through the seam: the link id, or -1.
inline int plumb(const std::string &dev_dir, int ppa, const std::string &iface, int instance)
{
    const int fd = stream_open((dev_dir + "/llc2").c_str(), O_RDWR);
    const int lower = stream_open((dev_dir + "/" + iface).c_str(), O_RDWR);
    int id = -1;
    if (fd >= 0 && lower >= 0) {
        id = stream_link(fd, lower);
        if (id >= 0 && drv_setppa(fd, ppa, id, instance) < 0)
            id = -1;
    }
    if (lower >= 0)
        stream_close(lower);
    if (fd >= 0)
        stream_close(fd);
    return id;
}

#endif
