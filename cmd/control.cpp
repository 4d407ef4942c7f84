#include "control.h"

#include "llc2_driver.h"
#include "llc2_report.h"
#include "paths.h"
#include "streams.h"

#include <fcntl.h>
#include <libintl.h>
#include <string>

int llc2_open_control(void)
{
    const std::string path = rooted_path(LLC2_CONTROL_DEVICE);
    const int fd = stream_open(path.c_str(), O_RDWR);
    if (fd < 0)
        report_errno("Cannot open LLC2 device: %s\n");
    return fd;
}

int llc2_request(int fd, int cmd, void *payload, int len)
{
    strioctl sio{};
    sio.ic_cmd = cmd;
    sio.ic_timout = LLC2_IOC_TIMEOUT;
    sio.ic_len = len;
    sio.ic_dp = static_cast<char *>(payload);
    return stream_ioctl(fd, &sio);
}

const char *unaskable_reason(void)
{
    return gettext("the driver cannot be asked about a PPA outside 0 to 255");
}

const char *unanswered_reason(void)
{
    return gettext("the driver does not answer");
}

int control_stream::close()
{
    if (fd < 0)
        return 0;
    const int rc = stream_close(fd);
    fd = -1;
    return rc;
}
