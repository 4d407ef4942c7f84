// SPDX-License-Identifier: Apache-2.0
#include "config_dir.h"

#include "llc2_report.h"
#include "paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <libintl.h>
#include <string>
#include <string_view>

namespace
{

constexpr const char *default_dir = "/etc/llc2/default/";

// The directory a run was given instead of the default one (-D), with its
// '/'; empty for the default. Set once, before anything is read or written.
std::string &given_dir()
{
    static std::string dir;
    return dir;
}

// The same as it was written, for messages.
std::string &named_dir()
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
    named_dir().assign(dir);
    if (!slash)
        given_dir() += '/';
    return true;
}

std::string_view named_conf_dir()
{
    return named_dir();
}

bool conf_dir_path(conf_path_buf &buf)
{
    const std::string &given = given_dir();
    if (!given.empty()) {
        // Taken as it stands, never under the root: use_conf_dir saw it fits.
        std::snprintf(buf.data(), buf.size(), "%s", given.c_str());
        return true;
    }
    if (rooted_path(buf.data(), buf.size(), default_dir))
        return true;
    // Nothing is opened under a cut path; the message still shows where we
    // would have looked.
    const std::string_view root = llc2_root();
    std::snprintf(buf.data(), buf.size(), "%.*s%s", static_cast<int>(root.size()), root.data(),
                  default_dir);
    errno = ENAMETOOLONG;
    return false;
}

int take_config_dir(int argc, char *const argv[], int &next, const char *&dir)
{
    constexpr std::string_view long_name = "--config-dir";
    const std::string_view word = argv[next];
    const char *named = nullptr;
    if (word == "-D" || word == long_name) {
        if (next + 1 >= argc) {
            std::fprintf(stderr, gettext("%s needs a directory\n"), argv[next]);
            return -1;
        }
        named = argv[++next];
    } else if (word.starts_with("-D")) {
        named = argv[next] + 2;
    } else if (word.starts_with(long_name) && word.size() > long_name.size() &&
               word[long_name.size()] == '=') {
        named = argv[next] + long_name.size() + 1;
    } else {
        return 0;
    }
    return name_config_dir(named, dir) ? 1 : -1;
}

bool name_config_dir(const char *named, const char *&dir)
{
    if (*named == '\0') {
        std::fputs(gettext("The configuration directory is named by an empty word\n"), stderr);
        return false;
    }
    if (dir != nullptr) {
        std::fputs(gettext("The configuration directory is named twice\n"), stderr);
        return false;
    }
    // In use from here on, so that --help names it too.
    if (!use_conf_dir(named)) {
        report_errno("Cannot use configuration directory %s: %s\n", named);
        return false;
    }
    dir = named;
    return true;
}

bool config_dir_exists(const char *dir)
{
    struct stat st {
    };
    if (stat(dir, &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
    }
    report_errno("Cannot use configuration directory %s: %s\n", dir);
    return false;
}
