// SPDX-License-Identifier: Apache-2.0
// The standard descriptors, made safe before anything else is opened.
#ifndef LLC2_PLATFORM_STD_FDS_H
#define LLC2_PLATFORM_STD_FDS_H

#include <fcntl.h>
#include <unistd.h>

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no control stream, configuration file or temporary file is ever one of
// them: a trace written to a closed standard error must not reach the driver.
// Called first in main, before the locale and before any other open.
//
// The null device is opened read-only: a standard output (or error) that was
// closed at start stays one that cannot be written, so what a run meant to
// write there still fails with EBADF and is reported as a write error at the
// end, while a run that writes nothing there ends as usual.
inline void open_std_fds()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        const int null = open("/dev/null", O_RDONLY | O_NOCTTY);
        // open takes the lowest free descriptor, which is fd itself.
        if (null >= 0 && null != fd) {
            (void)dup2(null, fd);
            (void)close(null);
        }
    }
}

#endif
