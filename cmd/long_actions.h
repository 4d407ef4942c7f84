// SPDX-License-Identifier: Apache-2.0
// The long actions --json, --status [PPA ...], --metrics [PPA ...] and
// --apply, recognised wherever an option may stand, each an action of its
// own beside the short ones.
#ifndef LLC2_CMD_LONG_ACTIONS_H
#define LLC2_CMD_LONG_ACTIONS_H

#include "llc2_ops.h"

#include <vector>

// Action codes that no option letter takes.
inline constexpr int LONG_JSON = 0x100;
inline constexpr int LONG_STATUS = 0x101;
inline constexpr int LONG_APPLY = 0x102;
inline constexpr int LONG_METRICS = 0x103;

// The action that word names, or 0.
int llc2_long_action(const char *word);

// Steps next (optind) past the long action at argv[next] and the operands it
// takes: for --status and --metrics every argument left, each a PPA number
// as -p takes it, appended to ppas; for --apply every argument left, each
// "-n", "--dry-run", "--json", "--prune" or a PPA number, into apply. Among
// them all three take the configuration directory too, as take_config_dir
// does. false, after "Invalid PPA number: %s" when an operand is none of
// these, or on an option given twice.
bool take_long_operands(int action, int argc, char *const argv[], int &next, std::vector<int> &ppas,
                        apply_options &apply, const char *&config_dir);

#endif
