// SPDX-License-Identifier: Apache-2.0
// STREAMS on a host that has it: each function is the system's own call.
#include "streams.h"

#include <fcntl.h>
#include <stropts.h>
#include <unistd.h>

int stream_open(const char *path, int oflag)
{
    return open(path, oflag);
}

int stream_close(int fd)
{
    return close(fd);
}

int stream_ioctl(int fd, strioctl *sio)
{
    return ioctl(fd, I_STR, sio);
}

int stream_link(int fd, int lower)
{
    return ioctl(fd, I_PLINK, lower);
}

int stream_unlink(int fd, int link_id)
{
    return ioctl(fd, I_PUNLINK, link_id);
}

int stream_flush(int fd, int how)
{
    return ioctl(fd, I_FLUSH, how);
}

int stream_putmsg(int fd, const strbuf *ctl, const strbuf *data, int flags)
{
    return putmsg(fd, ctl, data, flags);
}

int stream_getmsg(int fd, strbuf *ctl, strbuf *data, int *flags)
{
    return getmsg(fd, ctl, data, flags);
}

int stream_poll(pollfd *fds, nfds_t nfds, int timeout_ms)
{
    return poll(fds, nfds, timeout_ms);
}
