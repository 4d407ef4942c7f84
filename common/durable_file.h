// SPDX-License-Identifier: Apache-2.0
// Files that must never be seen half written: a new file is written beside
// the one it replaces under a temporary name and renamed over it, so readers
// see the old file or the new one, never a part of either. Used by the
// configuration writer and by llc2's run-state records.
#ifndef LLC2_COMMON_DURABLE_FILE_H
#define LLC2_COMMON_DURABLE_FILE_H

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What a replaced file must survive.
enum class durability {
    // A crash: the file and its directory are synced (fsync) before the
    // replacement counts as done. For the configuration.
    lasting,
    // Nothing beyond the running system: no fsync, only the atomic rename.
    // For run state in a directory that is emptied at boot anyway.
    volatile_state,
};

// The temporary file a new file is written to, "<dir>.<final name>.XXXXXX"
// beside the file it will become: its name starts with a point, so no scan
// of the directory takes it for the real thing. While one exists, SIGINT,
// SIGTERM, SIGHUP and SIGQUIT remove the temporary file before they take
// their usual effect (one that was ignored stays ignored), and SIGXFSZ is
// ignored, so that a size limit is a write error that is reported, not a
// kill that leaves the temporary file behind. The destructor closes the
// descriptor, removes the temporary file unless it was placed, and puts the
// signals back. A process may hold many at once (up to two for each PPA
// and a few more; create fails with EMFILE beyond that).
class pending_file
{
  public:
    pending_file();
    ~pending_file();
    pending_file(const pending_file &) = delete;
    pending_file &operator=(const pending_file &) = delete;

    // Creates the temporary file for final_name in dir (which ends in '/'),
    // mode 0600. true; or false with errno set.
    bool create(std::string_view dir, std::string_view final_name);
    // The open temporary file; -1 before create and after close.
    int fd() const { return fd_; }
    // Its path, valid after create.
    const char *path() const;
    // Closes the descriptor. 0, or the errno of close.
    int close();
    // The temporary name was renamed over the final one, or linked to it and
    // removed: there is nothing left to remove.
    void placed();

  private:
    std::size_t slot_ = SIZE_MAX; // its place among the names the signal handler removes
    int fd_ = -1;
};

// Writes text to fd from its offset on, every write checked. 0, or the
// errno of the failure (EIO for a write that wrote nothing).
int write_all(int fd, std::string_view text);

// Writes text to tmp, a pending file for dir + name (dir ends in '/'), with
// mode, synced with durability::lasting; nothing is renamed yet, so what it
// will replace is untouched. 0, or the errno of the step that failed.
int prepare_file(pending_file &tmp, std::string_view dir, std::string_view name,
                 std::string_view text, mode_t mode, durability how);

// Renames a prepared file over dir + name (the same dir and name as
// prepared), its text first replaced by *text when text is not null: that
// text must be no longer than what was prepared, so that a file system that
// filled up meanwhile need find no more room. The directory is synced with
// durability::lasting. 0, or the errno of the step that failed; then the old
// file is untouched (unless only the directory's sync failed).
int place_file(pending_file &tmp, std::string_view dir, std::string_view name,
               const std::string_view *text, durability how);

// Puts text in place as dir + name (dir ends in '/'): written to a pending
// file beside it, every write checked, given mode, renamed over name; with
// durability::lasting, the file is synced before the rename and the
// directory after it. 0, or the errno of the step that failed; then the old
// file is untouched, unless only the directory's sync failed, and no
// temporary file is left.
int replace_file(std::string_view dir, std::string_view name, std::string_view text, mode_t mode,
                 durability how = durability::lasting);

// prepare_file for run state (durability::volatile_state, mode 0644) in a
// directory that may be missing: made, as replace_run_state makes it, only
// when the file cannot be created there. 0, or the errno.
int prepare_run_state(pending_file &tmp, const std::string &dir, std::string_view name,
                      std::string_view text);

// replace_file for run state (durability::volatile_state) in a directory
// that may be missing: tried first as it is, since the directory is there
// for all but the first file of a boot and making sure of it costs a stat of
// every component; made (as make_dirs does) only when the write finds it
// missing. 0, or the errno of the step that failed.
int replace_run_state(const std::string &dir, std::string_view name, std::string_view text);

// fsync of a directory, so that a rename or an unlink in it lasts. 0, or
// the errno; a file system that cannot sync a directory (EINVAL) counts as
// done.
int sync_dir(const char *dir);

// Makes path (ending in '/') and those of its parents that are missing,
// each mode 0755 whatever the umask; with durability::lasting, the parent of
// each directory made is synced. made, when not null, is told of each
// directory made. A part that is there but no directory is left for the
// write to fail on. 0, or the errno of the failure with failed naming the
// directory that could not be made.
int make_dirs(const std::string &path, void (*made)(const char *), std::string &failed,
              durability how = durability::lasting);

// Reads up to max bytes of fd from its start (pread, so the descriptor's
// offset does not matter) into text. 0, or the read's errno.
int read_head(int fd, std::size_t max, std::string &text);

// Removes the temporary file of a pending file, if any, and nothing else;
// safe in a signal handler, and for a process about to end without
// unwinding.
void remove_pending_temp();

#endif
