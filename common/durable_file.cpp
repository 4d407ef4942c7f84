// SPDX-License-Identifier: Apache-2.0
// Atomic replacement of a file, and the temporary file it goes through.
#include "durable_file.h"

#include "llc2_conf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace
{

// The temporary files being written, for the signal handler: a handler can
// reach nothing but static storage. A slot is armed only while its file
// exists under that name and is ours to remove. A run writes ahead the
// records of every PPA it changes before it changes them, two parts each,
// so there are slots for that many at once.
constexpr std::size_t TEMP_SLOTS = 2 * 256 + 4;
std::array<std::array<char, LLC2_PATH_SIZE>, TEMP_SLOTS> pending_temp{};
std::array<volatile std::sig_atomic_t, TEMP_SLOTS> temp_armed{};

// The signals' actions as they were before the first pending file, put back
// when the last one goes.
std::array<struct sigaction, 5> old_actions{};
int pending_count = 0;

extern "C" void remove_temp_and_die(int sig)
{
    remove_pending_temp();
    // SA_RESETHAND has put the usual action back: the signal, pending again,
    // takes it as soon as this handler returns.
    (void)raise(sig);
}

// The signals that end the process while a file is written; SIGXFSZ after
// them, in the record of the old actions.
constexpr std::array<int, 4> fatal{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void catch_signals()
{
    struct sigaction sa {
    };
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (const int sig : fatal)
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < fatal.size(); ++i) {
        (void)sigaction(fatal.at(i), nullptr, &old_actions.at(i));
        if (old_actions.at(i).sa_handler != SIG_IGN)
            (void)sigaction(fatal.at(i), &sa, nullptr);
    }
    struct sigaction ignore {
    };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)sigaction(SIGXFSZ, &ignore, &old_actions.back());
}

void restore_signals()
{
    for (std::size_t i = 0; i < fatal.size(); ++i)
        (void)sigaction(fatal.at(i), &old_actions.at(i), nullptr);
    (void)sigaction(SIGXFSZ, &old_actions.back(), nullptr);
}

void remove_slot(std::size_t slot)
{
    if (temp_armed.at(slot) != 0)
        (void)unlink(pending_temp.at(slot).data());
    temp_armed.at(slot) = 0;
}

} // namespace

pending_file::pending_file()
{
    if (pending_count++ == 0)
        catch_signals();
}

pending_file::~pending_file()
{
    (void)close();
    if (slot_ < TEMP_SLOTS) {
        remove_slot(slot_);
        pending_temp.at(slot_)[0] = '\0'; // the slot is free again
    }
    if (--pending_count == 0)
        restore_signals();
}

bool pending_file::create(std::string_view dir, std::string_view final_name)
{
    const std::string name = std::string(dir) + "." + std::string(final_name) + ".XXXXXX";
    if (name.size() >= LLC2_PATH_SIZE) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (slot_ >= TEMP_SLOTS) {
        std::size_t free = 0;
        while (free < TEMP_SLOTS && (temp_armed.at(free) != 0 || pending_temp.at(free)[0] != 0))
            ++free;
        if (free == TEMP_SLOTS) {
            errno = EMFILE;
            return false;
        }
        slot_ = free;
    }
    // mkstemp fills the name in place, so the handler sees the file's own
    // name from the moment it exists.
    std::array<char, LLC2_PATH_SIZE> &path = pending_temp.at(slot_);
    temp_armed.at(slot_) = 0;
    std::memcpy(path.data(), name.c_str(), name.size() + 1);
    temp_armed.at(slot_) = 1;
    fd_ = mkstemp(path.data());
    if (fd_ < 0) {
        const int err = errno;
        temp_armed.at(slot_) = 0;
        errno = err;
    }
    return fd_ >= 0;
}

const char *pending_file::path() const
{
    return slot_ < TEMP_SLOTS ? pending_temp.at(slot_).data() : "";
}

int pending_file::close()
{
    if (fd_ < 0)
        return 0;
    const int closed = ::close(fd_);
    fd_ = -1;
    return closed != 0 ? errno : 0;
}

void pending_file::placed()
{
    if (slot_ < TEMP_SLOTS)
        temp_armed.at(slot_) = 0;
}

int write_all(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int sync_dir(const char *dir)
{
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Some file systems cannot sync a directory and say so; nothing to do.
    const int err = fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    return err;
}

int prepare_file(pending_file &tmp, std::string_view dir, std::string_view name,
                 std::string_view text, mode_t mode, durability how)
{
    if (!tmp.create(dir, name))
        return errno;
    const int err = write_all(tmp.fd(), text);
    if (err != 0)
        return err;
    return fchmod(tmp.fd(), mode) != 0 || (how == durability::lasting && fsync(tmp.fd()) != 0)
               ? errno
               : 0;
}

int place_file(pending_file &tmp, std::string_view dir, std::string_view name,
               const std::string_view *text, durability how)
{
    const bool lasting = how == durability::lasting;
    int err = 0;
    if (text != nullptr) {
        // Over what was prepared, from its start: no longer than that, so it
        // takes no more room than the file already has.
        for (std::size_t done = 0; err == 0 && done < text->size();) {
            const ssize_t n = pwrite(tmp.fd(), text->data() + done, text->size() - done,
                                     static_cast<off_t>(done));
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n == 0 || errno != EINTR)
                err = n < 0 ? errno : EIO;
        }
        if (err == 0 && (ftruncate(tmp.fd(), static_cast<off_t>(text->size())) != 0 ||
                         (lasting && fsync(tmp.fd()) != 0)))
            err = errno;
    }
    if (const int closed = tmp.close(); err == 0)
        err = closed;
    const std::string dir_name(dir);
    if (err == 0 && rename(tmp.path(), (dir_name + std::string(name)).c_str()) != 0)
        err = errno;
    if (err != 0)
        return err;
    tmp.placed();
    return lasting ? sync_dir(dir_name.c_str()) : 0;
}

int replace_file(std::string_view dir, std::string_view name, std::string_view text, mode_t mode,
                 durability how)
{
    pending_file tmp;
    const int err = prepare_file(tmp, dir, name, text, mode, how);
    return err != 0 ? err : place_file(tmp, dir, name, nullptr, how);
}

int prepare_run_state(pending_file &tmp, const std::string &dir, std::string_view name,
                      std::string_view text)
{
    int err = prepare_file(tmp, dir, name, text, 0644, durability::volatile_state);
    if (err != ENOENT)
        return err;
    std::string failed;
    err = make_dirs(dir, nullptr, failed, durability::volatile_state);
    return err != 0 ? err : prepare_file(tmp, dir, name, text, 0644, durability::volatile_state);
}

int replace_run_state(const std::string &dir, std::string_view name, std::string_view text)
{
    pending_file tmp;
    const int err = prepare_run_state(tmp, dir, name, text);
    return err != 0 ? err : place_file(tmp, dir, name, nullptr, durability::volatile_state);
}

int make_dirs(const std::string &path, void (*made)(const char *), std::string &failed,
              durability how)
{
    // Each prefix that ends before a '/', from the top down.
    for (std::size_t end = path.find('/', 1); end != std::string::npos;
         end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        struct stat st {
        };
        if (stat(part.c_str(), &st) == 0 || errno != ENOENT)
            continue;
        if (mkdir(part.c_str(), 0755) != 0) {
            if (errno == EEXIST) // made by someone else meanwhile
                continue;
            failed = part;
            return errno;
        }
        // The umask narrows what mkdir gives; llc2 and the rc script must be
        // able to read the directory whoever runs them.
        const std::size_t up = part.rfind('/');
        const std::string parent = up == 0 ? "/" : part.substr(0, up);
        const int err = chmod(part.c_str(), 0755) != 0 ? errno
                        : how == durability::lasting   ? sync_dir(parent.c_str())
                                                       : 0;
        if (err != 0) {
            failed = part;
            return err;
        }
        if (made != nullptr)
            made(part.c_str());
    }
    return 0;
}

int read_head(int fd, std::size_t max, std::string &text)
{
    text.assign(max, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return 0;
}

void remove_pending_temp()
{
    for (std::size_t slot = 0; slot < TEMP_SLOTS; ++slot)
        remove_slot(slot);
}
