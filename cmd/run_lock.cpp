// SPDX-License-Identifier: Apache-2.0
#include "run_lock.h"

#include "applied.h"
#include "durable_file.h"
#include "lock_wait.h"

#include <libintl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace
{

int &lock_error()
{
    static int err = ENOLCK;
    return err;
}

} // namespace

int run_lock_error(void)
{
    return lock_error();
}

std::string run_lock_path(void)
{
    return applied_dir() + "/.lock";
}

int run_lock_foreseen(void)
{
    struct stat st {
    };
    return lstat(run_lock_path().c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? ENOTSUP : 0;
}

bool take_run_lock(file_lock &lock)
{
    const auto without = [](const std::string &path, int err) {
        std::fprintf(stderr,
                     gettext("llc2: cannot lock %s: %s; PPAs the driver holds are left as they "
                             "are\n"),
                     path.c_str(),
                     err == ENOTSUP ? gettext("not a regular file") : std::strerror(err));
        lock_error() = err;
        return true;
    };
    std::string failed;
    if (const int err = make_dirs(applied_dir() + "/", nullptr, failed, durability::volatile_state);
        err != 0)
        return without(failed, err);
    const std::string path = run_lock_path();
    switch (lock_file(lock, path, lock_wait(std::chrono::seconds(RUN_LOCK_WAIT_SECONDS)), "llc2")) {
    case lock_result::held:
        lock_error() = 0;
        return true;
    case lock_result::not_regular:
        return without(path, ENOTSUP);
    case lock_result::cannot_open:
    case lock_result::cannot_lock:
        return without(path, errno);
    case lock_result::busy:
        break;
    }
    return false;
}
