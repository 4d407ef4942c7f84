// SPDX-License-Identifier: Apache-2.0
#include "path.h"

#include "paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace
{

constexpr const char *conf_dir = "/etc/llc2/default/";
constexpr const char *conf_stem = "llc2";

bool rooted(conf_path_buf &buf, std::string_view path)
{
    if (rooted_path(buf.data(), buf.size(), path))
        return true;
    // Nothing is opened under a cut path; the message still shows where we
    // would have looked.
    const std::string_view root = llc2_root();
    std::snprintf(buf.data(), buf.size(), "%.*s%.*s", static_cast<int>(root.size()), root.data(),
                  static_cast<int>(path.size()), path.data());
    errno = ENAMETOOLONG;
    return false;
}

// The directory a run was given instead of the default one (-D), with its
// '/'; empty for the default. Set once, before anything is read or written.
std::string &given_dir()
{
    static std::string dir;
    return dir;
}

// Room for "llc2.", any int and the NUL after a given directory.
constexpr std::size_t name_room = 20;

} // namespace

bool use_conf_dir(std::string_view dir)
{
    if (dir.empty()) {
        errno = ENOENT;
        return false;
    }
    const bool slash = dir.back() == '/';
    if (dir.size() + (slash ? 0 : 1) + name_room > LLC2_PATH_SIZE) {
        errno = ENAMETOOLONG;
        return false;
    }
    given_dir().assign(dir);
    if (!slash)
        given_dir() += '/';
    return true;
}

bool conf_dir_path(conf_path_buf &buf)
{
    const std::string &given = given_dir();
    if (given.empty())
        return rooted(buf, conf_dir);
    // Taken as it stands, never under the root: use_conf_dir saw it fits.
    std::snprintf(buf.data(), buf.size(), "%s", given.c_str());
    return true;
}

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
