// SPDX-License-Identifier: Apache-2.0
#include "path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

constexpr const char *conf_stem = "llc2";

} // namespace

bool conf_file_path(conf_path_buf &buf, int ppa)
{
    // The directory's path, then the name in it; a cut path still shows
    // where we would have looked.
    const bool whole = conf_dir_path(buf);
    const int err = errno;
    const std::size_t dir = std::strlen(buf.data());
    const int n = std::snprintf(buf.data() + dir, buf.size() - dir, "%s.%d", conf_stem, ppa);
    if (whole && n >= 0 && dir + static_cast<std::size_t>(n) < buf.size())
        return true;
    errno = whole ? ENAMETOOLONG : err;
    return false;
}
