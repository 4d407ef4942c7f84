// SPDX-License-Identifier: Apache-2.0
#include "config_dir.h"

#include "llc2_conf.h"
#include "llc2_report.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <libintl.h>
#include <string_view>

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
