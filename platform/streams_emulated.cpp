// Placeholder until the llc2sim backend lands: every call fails with ENOSYS.
#include "streams.h"

#include <cerrno>

int stream_open(const char *, int)
{
    return errno = ENOSYS, -1;
}
int stream_close(int)
{
    return errno = ENOSYS, -1;
}
int stream_ioctl(int, strioctl *)
{
    return errno = ENOSYS, -1;
}
int stream_link(int, int)
{
    return errno = ENOSYS, -1;
}
int stream_unlink(int, int)
{
    return errno = ENOSYS, -1;
}
int stream_flush(int, int)
{
    return errno = ENOSYS, -1;
}
int stream_putmsg(int, const strbuf *, const strbuf *, int)
{
    return errno = ENOSYS, -1;
}
int stream_getmsg(int, strbuf *, strbuf *, int *)
{
    return errno = ENOSYS, -1;
}
int stream_poll(pollfd *, nfds_t, int)
{
    return errno = ENOSYS, -1;
}
