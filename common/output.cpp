// SPDX-License-Identifier: Apache-2.0
#include "output.h"

#include "durable_file.h"

#include <fcntl.h>
#include <libintl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// A pipe or socket whose reading end is closed: nobody is left to tell.
bool reader_gone(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) != 0 || (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)))
        return false;
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

} // namespace

void prepare_output(void)
{
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

void order_output(void)
{
    struct stat out {
    };
    struct stat err {
    };
    if (fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
        out.st_dev == err.st_dev && out.st_ino == err.st_ino)
        std::fflush(stdout);
}

int finish_output(const char *program, int status, int failure)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    int err = flushed ? 0 : errno;
    if (flushed && std::ferror(stdout) == 0)
        return status;
    if (err == EPIPE || (err == 0 && reader_gone(STDOUT_FILENO)))
        return status;
    // The C library drops what it failed to write, so when an earlier
    // write failed and nothing was left to flush, the reason is gone. A
    // standard output that was closed at start is open read-only on the
    // null device: that reason is known.
    const int mode = fcntl(STDOUT_FILENO, F_GETFL);
    if (err == 0 && mode != -1 && (mode & O_ACCMODE) == O_RDONLY)
        err = EBADF;
    if (err != 0)
        std::fprintf(stderr, gettext("%s: write error: %s\n"), program, std::strerror(err));
    else
        std::fprintf(stderr, gettext("%s: write error\n"), program);
    return failure;
}

void out_of_memory_exit(const char *message, int status)
{
    remove_pending_temp();
    // Nothing here may allocate: write, not stdio or gettext.
    const std::size_t len = std::strlen(message);
    ssize_t n = 0;
    for (std::size_t done = 0; done < len; done += static_cast<std::size_t>(n)) {
        n = write(STDERR_FILENO, message + done, len - done);
        if (n <= 0)
            break;
    }
    std::_Exit(status);
}
