// SPDX-License-Identifier: Apache-2.0
// The configuration directory: open_conf, the scan add_conf that fills
// conf_head, and the debug listing print_conf_entry.
#include "config_dir.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_names.h"
#include "llc2_report.h"
#include "path.h"
#include "text.h"

#include <dirent.h>
#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

conf_entry *conf_head = nullptr;

namespace
{

// Opens a configuration file for reading, or nothing when it is not a
// regular file (a symbolic link to one is fine) or is larger than any
// configuration: a sparse file of gigabytes would be read to its end. A FIFO in the directory
// would block the boot in open or read for ever, and a link to /dev/zero
// would feed the parser without end: neither is opened for reading. The
// type is checked before the open, so no device is ever opened, and again
// on what was opened, in case the entry changed in between; the open
// itself cannot block. On failure null with errno set, and regular false
// when the file is there but of another type (errno EISDIR or EINVAL); a
// file too large fails with EFBIG.
FILE *open_regular(const char *path, bool &regular)
{
    regular = true;
    struct stat st {
    };
    if (stat(path, &st) != 0)
        return nullptr;
    const auto refuse = [&regular](mode_t mode) -> FILE * {
        regular = false;
        errno = S_ISDIR(mode) ? EISDIR : EINVAL;
        return nullptr;
    };
    if (!S_ISREG(st.st_mode))
        return refuse(st.st_mode);
    if (st.st_size > LLC2_CONF_MAX_SIZE) {
        errno = EFBIG;
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const auto give_up = [fd](int err) -> FILE * {
        close(fd);
        errno = err;
        return nullptr;
    };
    if (fstat(fd, &st) != 0)
        return give_up(errno);
    if (!S_ISREG(st.st_mode)) {
        give_up(0);
        return refuse(st.st_mode);
    }
    if (st.st_size > LLC2_CONF_MAX_SIZE)
        return give_up(EFBIG);
    FILE *fp = fdopen(fd, "r");
    return fp != nullptr ? fp : give_up(errno);
}

} // namespace

bool conf_entry_ppa(const char *name, int *ppa)
{
    constexpr std::string_view prefix = "llc2.";
    const std::string_view entry = name;
    if (!entry.starts_with(prefix))
        return false;
    const std::string_view number = entry.substr(prefix.size());
    int value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value, 10);
    if (ec != std::errc() || end != number.data() + number.size())
        return false;
    // Only the name the path rule builds for that number: "llc2.03",
    // "llc2.-0" and "llc2.+3" are not PPA 3, 0 and 3.
    if (std::to_string(value) != number)
        return false;
    *ppa = value;
    return true;
}

FILE *open_conf_why(int ppa, std::string *why)
{
    // The message, on standard error or into why; errno is left as the
    // failed open set it, for the caller's own report.
    const auto refused = [why](const char *path, const char *reason, int err) -> FILE * {
        if (why == nullptr)
            std::fprintf(stderr, gettext("Cannot open %s: %s\n"), path, reason);
        else
            *why = conf_text(gettext("Cannot open %s: %s\n"), path, reason);
        errno = err;
        return nullptr;
    };
    conf_path_buf path;
    if (!conf_file_path(path, ppa)) {
        const int err = errno;
        return refused(path.data(), std::strerror(err), err);
    }
    bool regular = true;
    FILE *fp = open_regular(path.data(), regular);
    if (fp == nullptr) {
        const int err = errno;
        return refused(path.data(), regular ? std::strerror(err) : gettext("not a regular file"),
                       err);
    }
    return fp;
}

FILE *open_conf(int ppa)
{
    return open_conf_why(ppa, nullptr);
}

conf_walk_result walk_conf_dir(const std::function<void(const conf_dir_entry &)> &visit)
{
    conf_path_buf dir_path;
    DIR *dir = conf_dir_path(dir_path) ? opendir(dir_path.data()) : nullptr;
    if (dir == nullptr)
        return conf_walk_result::not_opened;
    // Kept here, not read back from errno: visit may change it.
    int failed = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (entry == nullptr) {
            failed = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        conf_dir_entry seen{entry->d_name, conf_dir_kind::ppa_file, 0};
        if (!conf_entry_ppa(entry->d_name, &seen.ppa)) {
            if (name.starts_with("llc2."))
                seen.kind = conf_dir_kind::stray;
            else if (name.starts_with(".llc2."))
                seen.kind = conf_dir_kind::temporary;
            else
                continue;
        }
        visit(seen);
    }
    if (closedir(dir) != 0 && failed == 0)
        failed = errno;
    errno = failed;
    return failed == 0 ? conf_walk_result::walked : conf_walk_result::not_read;
}

void report_conf_dir_unread(void)
{
    // A directory -D named is named back: it is not the default one.
    const std::string named(named_conf_dir());
    if (named.empty())
        report_errno("Cannot open default directory: %s\n");
    else
        report_errno("Cannot use configuration directory %s: %s\n", named.c_str());
}

int add_conf(void)
{
    // Failures are kept here, not read back from errno: calls that succeed
    // may still change errno on the way.
    int failed_errno = 0;
    const conf_walk_result walked = walk_conf_dir([&failed_errno](const conf_dir_entry &entry) {
        if (entry.kind != conf_dir_kind::ppa_file)
            return;
        // The path comes from the number, not from the entry's name.
        FILE *fp = open_conf(entry.ppa);
        if (fp == nullptr) {
            failed_errno = errno;
            return;
        }
        // No null to test for: out of memory ends llc2 and llc2conf
        // through their new-handler, with its message.
        conf_head = new conf_entry{entry.ppa, fp, conf_head};
    });
    if (walked == conf_walk_result::not_opened) {
        report_conf_dir_unread();
        return -1;
    }
    if (walked == conf_walk_result::not_read)
        failed_errno = errno;

    if (failed_errno == 0) {
        errno = 0;
        return 0;
    }
    if (debug > 0)
        std::fprintf(stderr, "readdir() error: %s\n", std::strerror(failed_errno));
    // Left for the front end's own message.
    errno = failed_errno;
    return -1;
}

void print_conf_entry(void)
{
    std::array<char, LLC2_DEVNAME_SIZE> devicename{};
    std::array<int, CONF_NPARAMS> params{};
    int instance = 0;
    for (const conf_entry *node = conf_head; node != nullptr; node = node->next) {
        if (read_conf_file(node->fp, devicename.data(), &instance, params.data()) == -1) {
            std::fputs(gettext("Error in file\n"), stderr);
            return;
        }
        std::printf("Device: %s, instance: %d, PPA %d\n", shown_name(devicename.data()).c_str(),
                    instance, node->ppa);
    }
}
