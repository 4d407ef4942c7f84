#include "path.h"

#include "paths.h"

#include <cerrno>
#include <cstdio>
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

} // namespace

bool conf_dir_path(conf_path_buf &buf)
{
    return rooted(buf, conf_dir);
}

bool conf_file_path(conf_path_buf &buf, int ppa)
{
    // Room for the directory, the stem, the point and any int.
    char path[64];
    std::snprintf(path, sizeof path, "%s%s.%d", conf_dir, conf_stem, ppa);
    return rooted(buf, path);
}
