// SPDX-License-Identifier: Apache-2.0
#include "fsync_count.h"

#include <sys/stat.h>

namespace llc2test
{

int synced_files = 0;
int synced_dirs = 0;

} // namespace llc2test

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) == 0)
        ++(S_ISDIR(st.st_mode) ? llc2test::synced_dirs : llc2test::synced_files);
    return __real_fsync(fd);
}
