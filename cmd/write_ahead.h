// SPDX-License-Identifier: Apache-2.0
// Written ahead, never behind. The driver cannot be asked what llc2 gave a
// PPA, so a change that a kill, a full disk or a second run could cut short
// must leave the record saying no more than is true. Every action that
// changes a PPA goes through one order: what the change makes untrue is
// marked first, what it will record is written in full to a temporary file,
// then the requests go, then the record is completed and put in place.
#ifndef LLC2_CMD_WRITE_AHEAD_H
#define LLC2_CMD_WRITE_AHEAD_H

#include "applied.h"
#include "llc2_conf.h"

#include <string>

// What a change does to one PPA.
enum class ppa_change {
    plumb,     // not held: plumbed and initialised
    replumb,   // held: taken down, plumbed again and initialised
    init,      // held: (uninitialised and) initialised
    uninit,    // held: uninitialised, its link kept
    take_down, // held: uninitialised and unplumbed
};

// What write_ahead decided.
enum class ahead {
    go,         // marked and prepared: the change may be made and will be recorded
    unrecorded, // a plumb whose record cannot be prepared: made all the same (the
                // PPA is not held, the boot needs it), and the run fails
    refused,    // nothing may be sent for the PPA
};

// Called before the first request of a change to PPA ppa, with conf its
// configuration as read (for plumb, replumb and init; ignored otherwise).
// It prepares into rec what the change will write (both parts for plumb and
// replumb, the parameter part for init); refuses a held PPA when the run
// does not hold the run lock ("PPA %d: not changed without the run lock;
// left as it is"), and then marks what the change invalidates (the
// parameter part not confirmed for init and replumb, removed for uninit and
// take_down). When a step cannot be
// done: for a held PPA "Cannot record PPA %d: %s; left as it is" and
// refused; for plumb "Cannot record PPA %d: %s" and unrecorded. why, when
// not null, gets the words for a program ("cannot record: ...; left as it
// is").
ahead write_ahead(int ppa, ppa_change what, const conf_values *conf, prepared_record &rec,
                  std::string *why);

#endif
