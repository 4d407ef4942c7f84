// SPDX-License-Identifier: Apache-2.0
// The writer's parts: the body apart from the file it goes to, so the layout
// can be checked on any stream and for any clock, the writer with a choice
// about an existing file, and the configuration directory's lock. Internal
// to llc2_conf, llc2conf and the tests; the rules for a file that must never
// be seen half written are the durable file's.
#ifndef LLC2_CONF_WRITE_H
#define LLC2_CONF_WRITE_H

#include "lock_file.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

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

// The configuration directory's writer lock: a lock file, ".llc2conf.lock"
// in the directory. A writer holds it from before it reads the old file
// until after the rename or removal and the directory's sync, so two writers
// at once act one after the other and neither loses the other's change. Its
// name starts with a point, so the scan passes over it.
using conf_lock = file_lock;

enum class conf_lock_result {
    held,
    no_dir, // there is no configuration directory: nothing to lock, nor to lose
    failed, // after a message on standard error
};

// How long a writer waits for the lock before it gives up.
inline constexpr int CONF_LOCK_WAIT_SECONDS = 10;

// Takes the lock, waiting up to CONF_LOCK_WAIT_SECONDS (lock_wait) while
// another process holds it. After that, "llc2conf: <lock file>: in use by
// process N; try again" and failed.
conf_lock_result lock_conf_dir(conf_lock &lock);

// Creates the configuration directory and those of its parents that are
// missing, each with mode 0755 whatever the umask, and says "Created
// directory <path>" of each on standard error. A part of the path that is
// there but no directory is left for the write to fail on. 0, or -1 after a
// message.
int make_conf_dir();

#endif
