// SPDX-License-Identifier: Apache-2.0
// The one path by which create, set and delete change a configuration file:
// the new text is computed whole, compared with what is there, and then
// written atomically, removed, or shown as a diff. So "unchanged", the dry
// run and the write cannot disagree about what a command would do.
#include "llc2conf.h"
#include "output.h"
#include "path.h"
#include "text.h"
#include "write.h"

#include <sys/stat.h>

#include <libintl.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

// The bytes of PPA ppa's file as llc2 would open it (through a link, never a
// FIFO, a device or a file over 1 MiB), or false with why set to the reason,
// in open_conf's words.
bool read_conf_bytes(int ppa, std::string &text, std::string &why)
{
    std::FILE *fp = open_conf_why(ppa, &why);
    if (fp == nullptr)
        return false;
    std::string out;
    std::array<char, 4096> buf{};
    std::size_t got = 0;
    while ((got = std::fread(buf.data(), 1, buf.size(), fp)) > 0)
        out.append(buf.data(), got);
    const bool failed = std::ferror(fp) != 0;
    const int err = errno;
    std::fclose(fp);
    if (failed) {
        conf_path_buf path;
        (void)conf_file_path(path, ppa);
        why = conf_text(gettext("Cannot open %s: %s\n"), path.data(), std::strerror(err));
        return false;
    }
    text = std::move(out);
    return true;
}

// The status line: what scripts read to learn whether anything changed,
// so it is the same in every locale.
void say(int ppa, const char *what)
{
    std::printf("PPA %d: %s\n", ppa, what);
    order_output();
}

} // namespace

bool lock_for_change(conf_lock &lock, bool dry_run, bool make_dir)
{
    return dry_run ||
           ((!make_dir || make_conf_dir() == 0) && lock_conf_dir(lock) != conf_lock_result::failed);
}

bool look_at_conf(int ppa, conf_file_now &now)
{
    now = conf_file_now{};
    conf_path_buf path;
    if (!conf_file_path(path, ppa)) {
        std::fprintf(stderr, gettext("Cannot open %s: %s\n"), path.data(),
                     std::strerror(ENAMETOOLONG));
        return false;
    }
    struct stat st {
    };
    now.exists = lstat(path.data(), &st) == 0;
    now.regular = now.exists && S_ISREG(st.st_mode);
    now.directory = now.exists && S_ISDIR(st.st_mode);
    if (now.exists)
        (void)read_conf_bytes(ppa, now.text, now.unreadable);
    return true;
}

change_result change_conf(int ppa, const conf_file_now &now,
                          const std::optional<std::string> &after, conf_write_mode mode,
                          bool dry_run)
{
    if (!after && !now.exists) {
        say(ppa, "absent");
        return change_result::unchanged;
    }
    if (after && now.regular && same_conf_text(now.text, *after)) {
        say(ppa, "unchanged");
        return change_result::unchanged;
    }
    const char *done = !after ? "deleted" : now.exists ? "replaced" : "created";
    conf_path_buf path;
    (void)conf_file_path(path, ppa); // look_at_conf found it fits
    if (now.directory) {
        // Neither rename nor unlink would take it; refused before trying, so
        // that a dry run fails as the real run does.
        if (after)
            std::fprintf(stderr, gettext("Cannot create conf file %s: %s\n"), path.data(),
                         std::strerror(EISDIR));
        else
            std::fprintf(stderr, gettext("Cannot remove %s: %s\n"), path.data(),
                         std::strerror(EISDIR));
        return change_result::failed;
    }
    if (dry_run) {
        // An old file that cannot be read is no empty file: say why there is
        // no diff, and end as the real run would, which does not read it.
        if (!now.unreadable.empty())
            std::fprintf(stderr, "%s\n", now.unreadable.c_str());
        else
            print_conf_diff(now.exists ? std::optional<std::string>(now.text) : std::nullopt, after,
                            path.data());
        say(ppa, done);
        return change_result::shown;
    }
    if (!after) {
        const int removed = remove_conf(ppa);
        if (removed < 0)
            return change_result::failed;
        // Someone else removed it since we looked: the state asked for holds.
        say(ppa, removed == 1 ? "absent" : done);
        return removed == 1 ? change_result::unchanged : change_result::removed;
    }
    switch (write_conf_text(ppa, *after, mode)) {
    case conf_write_result::written:
        break;
    case conf_write_result::exists:
        return change_result::exists;
    case conf_write_result::failed:
        return change_result::failed;
    }
    say(ppa, done);
    return change_result::written;
}
