// SPDX-License-Identifier: Apache-2.0
// Two runs of llc2 at once: a boot script's -P beside an administrator's
// --apply, two configuration-management runs. Each action that changes the
// driver or the records holds the run lock, a lock file in the run-state
// directory, from before its first request until it ends, so that the
// second run starts from what the first left, never from half of it.
#ifndef LLC2_CMD_RUN_LOCK_H
#define LLC2_CMD_RUN_LOCK_H

#include "lock_file.h"

#include <string>

// How long a run waits for another run to end before it gives up.
inline constexpr int RUN_LOCK_WAIT_SECONDS = 30;

// The lock file: ".lock" in the directory of the applied records, which
// takes no name but the records' for one.
std::string run_lock_path(void);

// Takes the run lock into lock, making the run-state directory (and its
// missing parents, mode 0755) first, waiting up to RUN_LOCK_WAIT_SECONDS
// (lock_wait) while another run holds it. true when held; true too when the
// directory cannot be made or the file not locked (a directory, a symbolic
// link, a FIFO stands there), after "llc2: cannot lock <path>: <reason>;
// PPAs the driver holds are left as they are": the driver still needs its
// boot when /var/run is unusable, but a run that may meet another changes
// nothing the other may be changing (run_lock_error). false after
// "llc2: <lock file>: in use by process N; try again": nothing may be sent
// then.
bool take_run_lock(file_lock &lock);

// Whether a run could take the run lock, as a dry run foresees it: ENOTSUP
// when something other than a regular file has the lock file's name, 0
// otherwise. Only looks.
int run_lock_foreseen(void);

// 0 while this run holds the run lock; otherwise why it does not (ENOLCK
// before take_run_lock was called).
int run_lock_error(void);

#endif
