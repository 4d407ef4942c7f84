// SPDX-License-Identifier: Apache-2.0
#include "control.h"

#include "llc2_driver.h"
#include "llc2_report.h"
#include "paths.h"
#include "streams.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libintl.h>
#include <string>

namespace
{

// Whether the driver has left a request unanswered in this run. It is a fact
// about the driver, not about one stream, so it outlives the control
// streams an action opens one after the other, and only this unit sees it.
bool &silent()
{
    static bool driver_silent = false;
    return driver_silent;
}

// A request that is not sent: the driver no longer answers.
int not_sent()
{
    errno = ETIME;
    return -1;
}

// What a request returned, noting a driver that did not answer it.
int answered(int rc)
{
    if (rc < 0 && errno == ETIME)
        silent() = true;
    return rc;
}

} // namespace

int llc2_open_control(void)
{
    const std::string path = rooted_path(LLC2_CONTROL_DEVICE);
    const int fd = stream_open(path.c_str(), O_RDWR);
    if (fd < 0)
        report_errno("Cannot open LLC2 device: %s\n");
    return fd;
}

bool driver_answering(void)
{
    return !silent();
}

int llc2_link(int fd, int lower)
{
    return silent() ? not_sent() : answered(stream_link(fd, lower));
}

int llc2_unlink(int fd, int link_id)
{
    return silent() ? not_sent() : answered(stream_unlink(fd, link_id));
}

int llc2_request(int fd, int cmd, void *payload, int len)
{
    if (silent())
        return not_sent();
    strioctl sio{};
    sio.ic_cmd = cmd;
    sio.ic_timout = LLC2_IOC_TIMEOUT;
    sio.ic_len = len;
    sio.ic_dp = static_cast<char *>(payload);
    return answered(stream_ioctl(fd, &sio));
}

const char *unaskable_reason(void)
{
    return gettext("the driver cannot be asked about a PPA outside 0 to 255");
}

const char *unanswered_reason(void)
{
    return gettext("the driver does not answer");
}

const char *reason_of(int err)
{
    return err == ETIME ? unanswered_reason() : std::strerror(err);
}

int control_stream::close()
{
    if (fd < 0)
        return 0;
    const int rc = stream_close(fd);
    fd = -1;
    return rc;
}

bool reopen_control(control_stream &ctl)
{
    (void)ctl.close();
    if (!driver_answering())
        return true;
    ctl.fd = llc2_open_control();
    return ctl.fd >= 0;
}
