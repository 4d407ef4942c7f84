// The one path by which create, set and delete change a configuration file:
// the new text is computed whole, compared with what is there, and then
// written atomically, removed, or shown as a diff. So "unchanged", the dry
// run and the write cannot disagree about what a command would do.
#include "llc2conf.h"
#include "output.h"
#include "path.h"
#include "write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libintl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

// More than any configuration file holds; what is longer is not compared
// or shown, only replaced.
constexpr std::size_t longest_read = std::size_t{1} << 20;

// The bytes of the regular file at path (through a link), or false when
// there is no such file or it could not be read. The open cannot block on
// a FIFO, and a device is never opened.
bool read_regular(const char *path, std::string &text)
{
    struct stat st {
    };
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) > longest_read)
        return false;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string out;
    std::array<char, 4096> buf{};
    while (ok) {
        const ssize_t got = read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        out.append(buf.data(), static_cast<std::size_t>(got));
        ok = out.size() <= longest_read;
    }
    close(fd);
    if (ok)
        text = std::move(out);
    return ok;
}

// The status line: what scripts read to learn whether anything changed,
// so it is the same in every locale.
void say(int ppa, const char *what)
{
    std::printf("PPA %d: %s\n", ppa, what);
    order_output();
}

} // namespace

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
    if (now.exists)
        (void)read_regular(path.data(), now.text);
    return true;
}

change_result change_conf(int ppa, const conf_file_now &now,
                          const std::optional<std::string> &after, bool replace, bool dry_run)
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
    if (dry_run) {
        conf_path_buf path;
        (void)conf_file_path(path, ppa); // look_at_conf found it fits
        print_conf_diff(now.exists ? std::optional<std::string>(now.text) : std::nullopt, after,
                        path.data());
        say(ppa, done);
        return change_result::written;
    }
    if (!after) {
        const int removed = remove_conf(ppa);
        if (removed < 0)
            return change_result::failed;
        // Someone else removed it since we looked: the state asked for holds.
        if (removed == 1)
            done = "absent";
    } else {
        switch (write_conf_text(ppa, *after,
                                replace ? conf_write_mode::replace : conf_write_mode::keep)) {
        case conf_write_result::written:
            break;
        case conf_write_result::exists:
            return change_result::exists;
        case conf_write_result::failed:
            return change_result::failed;
        }
    }
    say(ppa, done);
    return change_result::written;
}
