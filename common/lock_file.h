// SPDX-License-Identifier: Apache-2.0
// A lock file: an exclusive POSIX record lock on a file of its own, held
// while one process does what two at once would spoil. The file is created
// (mode 0644, so anybody may see who holds it) when missing and never
// removed: removing it would let a second process lock a new file of the
// same name while the first still holds the old one.
#ifndef LLC2_COMMON_LOCK_FILE_H
#define LLC2_COMMON_LOCK_FILE_H

#include <chrono>
#include <string>

// The lock, held while fd is open.
struct file_lock {
    int fd = -1;

    file_lock() = default;
    file_lock(const file_lock &) = delete;
    file_lock &operator=(const file_lock &) = delete;
    // Closing the descriptor releases the lock.
    ~file_lock();
};

enum class lock_result {
    held,
    not_regular, // something other than a regular file has its name; left alone, nothing said
    cannot_open, // the lock file could not be opened or made; errno says why, nothing was said
    cannot_lock, // fcntl refused otherwise than for another holder; errno says why, nothing was
                 // said
    busy,        // another process held it for the whole wait, after the message below
};

// Locks the file at path (a symbolic link, a directory or a FIFO there is
// refused, not followed or replaced),
// trying again for up to wait while another process holds it. When that
// process still holds it then: "<program>: <path>: in use by process N; try
// again" on standard error, and busy. Only held leaves lock.fd open. POSIX
// locks belong to the process: within one, a lock file is locked once, for a
// second descriptor on it would release the lock when closed.
lock_result lock_file(file_lock &lock, const std::string &path, std::chrono::milliseconds wait,
                      const char *program);

#endif
