// SPDX-License-Identifier: Apache-2.0
// llc2conf delete: removes a PPA's file by the one change path; a file
// that is not there is the state asked for.
#include "llc2conf.h"
#include "write.h"

#include <optional>

int conf_delete(int argc, char *const argv[])
{
    bool force = false;
    bool dry_run = false;
    const int i = parse_change_options(argc, argv, false, force, dry_run);
    if (i < 0 || argc - i != 1)
        return EXIT_USAGE;
    int ppa = 0;
    if (!ppa_operand(argv[i], ppa, false))
        return EXIT_USAGE;
    // Held until the directory is synced: a set that read the file before
    // it went must not put it back afterwards.
    conf_lock lock;
    if (!lock_for_change(lock, dry_run, false))
        return EXIT_WRONG;
    conf_file_now now;
    if (!look_at_conf(ppa, now))
        return EXIT_WRONG;
    return change_conf(ppa, now, std::nullopt, conf_write_mode::replace, dry_run) ==
                   change_result::failed
               ? EXIT_WRONG
               : 0;
}
