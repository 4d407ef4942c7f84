// SPDX-License-Identifier: Apache-2.0
#include "lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libintl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace
{

// Opens the lock file, creating it when missing; -1 with errno set. A
// symbolic link there is refused, not followed out of the directory.
int open_lock_file(const char *path)
{
    const int made = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (made >= 0) {
        // Whatever the umask: anybody may look at who holds it.
        (void)fchmod(made, 0644);
        return made;
    }
    if (errno != EEXIST)
        return -1;
    // Without blocking: a FIFO there must not hang the run.
    const int fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {
    };
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        errno = ENOTSUP;
        return -1;
    }
    // What stands there is no lock file of ours, and is never replaced.
    if (fd < 0 && (errno == ELOOP || errno == EISDIR || errno == ENXIO))
        errno = ENOTSUP;
    return fd;
}

// An exclusive lock of the whole file, however long it grows.
struct flock whole_file()
{
    struct flock fl {
    };
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return fl;
}

} // namespace

file_lock::~file_lock()
{
    if (fd >= 0)
        close(fd);
}

lock_result lock_file(file_lock &lock, const std::string &path, std::chrono::milliseconds wait,
                      const char *program)
{
    const int fd = open_lock_file(path.c_str());
    if (fd < 0)
        return errno == ENOTSUP ? lock_result::not_regular : lock_result::cannot_open;
    const auto given_up = [fd](lock_result result) {
        const int err = errno;
        close(fd);
        errno = err;
        return result;
    };
    // F_SETLKW cannot give up without a signal to interrupt it, so the lock
    // is tried again and again, with short pauses, up to the limit.
    using clock = std::chrono::steady_clock;
    const clock::time_point give_up = clock::now() + wait;
    for (;;) {
        struct flock fl = whole_file();
        if (fcntl(fd, F_SETLK, &fl) == 0) {
            lock.fd = fd;
            return lock_result::held;
        }
        if (errno != EACCES && errno != EAGAIN && errno != EINTR)
            return given_up(lock_result::cannot_lock);
        if (clock::now() >= give_up)
            break;
        const timespec pause{0, 20'000'000};
        (void)nanosleep(&pause, nullptr);
    }
    struct flock holder = whole_file();
    if (fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type == F_UNLCK) {
        // Let go since the last try: one more, then name whoever has it now.
        struct flock fl = whole_file();
        if (fcntl(fd, F_SETLK, &fl) == 0) {
            lock.fd = fd;
            return lock_result::held;
        }
        (void)fcntl(fd, F_GETLK, &holder);
    }
    // The program's name stays out of the catalogue text: one translation
    // serves every program.
    std::fprintf(stderr, gettext("%s: %s: in use by process %ld; try again\n"), program,
                 path.c_str(), static_cast<long>(holder.l_pid));
    return given_up(lock_result::busy);
}
