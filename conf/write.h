// The writer's parts: the body apart from the file it goes to, so the layout
// can be checked on any stream and for any clock, and the writer with a
// choice about an existing file, and the writer's rules for any file that
// must never be seen half written. Internal to llc2_conf, llc2conf, llc2's
// applied records and the tests.
#ifndef LLC2_CONF_WRITE_H
#define LLC2_CONF_WRITE_H

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>

// Writes the header and the fourteen key lines to out. built is the time of
// the Built line, or (time_t)-1 to leave that line out. 0, or -1 as soon as
// a write fails (errno tells why).
int write_conf_rows(std::FILE *out, const char *provider, unsigned int instance,
                    const int *conf_params, std::time_t built);

// The whole text of a file as write_conf_rows makes it, in text. false when
// it could not be made (errno tells why).
bool render_conf(const char *provider, unsigned int instance, const int *conf_params,
                 std::time_t built, std::string &text);

// How write_conf treats a file that is there already.
enum class conf_write_mode {
    replace,    // put the new file in its place (create_conf)
    create_new, // create it only where there is none (exclusively): an existing
                // one is left, and the result says so; for a caller that
                // checked it was absent
};

enum class conf_write_result {
    written,
    exists, // create_new, and a file of that name appeared; nothing was said
    failed, // after a message on standard error
};

// Puts text in place as PPA ppa's file, by the steps write_conf describes
// below; the caller holds the directory's lock. Before the rename the
// temporary file is read back through its own descriptor and must hold text
// exactly. While it runs, SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the
// temporary file before they take effect, and SIGXFSZ is ignored (a size
// limit is a write error). failed also when the file is in place but the
// directory could not be synced, or the temporary name could not be removed
// after link; the message says which. No descriptor stays open either way.
conf_write_result write_conf_text(int ppa, std::string_view text, conf_write_mode mode);

// create_conf with the choice of mode: the text rendered for linkname and
// conf_params, then, under the directory's lock, write_conf_text. The file
// is written to a temporary file in the same directory, synced, given its
// final mode (and, for root, the owner and group of the file it replaces),
// then renamed over (or, with create_new, linked to) the PPA's file name and the
// directory synced. Whatever fails, the PPA's file is either the old one,
// untouched, or the whole new one, and no temporary file is left behind.
conf_write_result write_conf(const char *linkname, int ppa, const int *conf_params,
                             conf_write_mode mode);

// Removes PPA ppa's file (a symbolic link itself, never what it points to)
// and syncs the directory; the caller holds the directory's lock. 1 when
// there was none, 0 when it is gone, -1 after a message.
int remove_conf(int ppa);

// The configuration directory's writer lock: an exclusive POSIX record lock
// on ".llc2conf.lock" in the directory. A writer holds it from before it
// reads the old file until after the rename or removal and the directory's
// sync, so two writers at once act one after the other and neither loses the
// other's change. The lock file is created (mode 0644) when missing and never
// removed; its name starts with a point, so the scan passes over it.
struct conf_lock {
    int fd = -1; // the lock file, while the lock is held

    conf_lock() = default;
    conf_lock(const conf_lock &) = delete;
    conf_lock &operator=(const conf_lock &) = delete;
    // Closing the descriptor releases the lock.
    ~conf_lock();
};

enum class conf_lock_result {
    held,
    no_dir, // there is no configuration directory: nothing to lock, nor to lose
    failed, // after a message on standard error
};

// How long a writer waits for the lock before it gives up.
inline constexpr int CONF_LOCK_WAIT_SECONDS = 10;

// Takes the lock, waiting up to CONF_LOCK_WAIT_SECONDS while another process
// holds it. After that, "llc2conf: <lock file>: in use by process N; try
// again" and failed. Within one process the lock is taken once: a second
// descriptor on the lock file would release it when closed.
conf_lock_result lock_conf_dir(conf_lock &lock);

// Removes the temporary file of a write in progress, if any, and nothing
// else; safe in a signal handler, and for a process about to end without
// unwinding.
void remove_pending_temp();

// Creates the configuration directory and those of its parents that are
// missing, each with mode 0755 whatever the umask, and says "Created
// directory <path>" of each on standard error. A part of the path that is
// there but no directory is left for the write to fail on. 0, or -1 after a
// message.
int make_conf_dir();

// Makes path (ending in '/') and those of its parents that are missing,
// each mode 0755 whatever the umask, each parent synced; made, when not
// null, is told of each directory made. A part that is there but no
// directory is left for the write to fail on. 0, or the errno of the
// failure with failed naming the directory that could not be made.
int make_dirs(const std::string &path, void (*made)(const char *), std::string &failed);

// Puts text in place as dir + name (dir ends in '/'): written to a temporary
// file beside it (with the signals of write_conf_text), every write checked,
// given mode, synced, renamed over name, the directory synced. 0, or the
// errno of the step that failed; then the old file is untouched, unless only
// the directory's sync failed, and no temporary file is left.
int replace_file(std::string_view dir, std::string_view name, std::string_view text, mode_t mode);

// fsync of a directory, so that a rename or an unlink in it lasts. 0, or
// the errno; a file system that cannot sync a directory (EINVAL) counts as
// done.
int sync_dir(const char *dir);

// Reads up to max bytes of fd from its start (pread, so the descriptor's
// offset does not matter) into text. 0, or the read's errno.
int read_head(int fd, std::size_t max, std::string &text);

#endif
