// What llc2 gave the driver for each PPA: the driver cannot be asked for a
// PPA's parameters, so after every successful initialisation llc2 keeps a
// small record of what it sent, and drops it when it takes the PPA down.
// The records are llc2's own; nothing else reads or writes them.
#ifndef LLC2_CMD_APPLIED_H
#define LLC2_CMD_APPLIED_H

#include "init_params.h"
#include "llc2_conf.h"
#include "llc2_driver.h"
#include "llc2_ops.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// One PPA's record.
struct applied_record {
    std::string devicename; // the link's interface, as plumbed
    int instance = 0;
    // The ten values of ctl_init as sent, in INIT_PARAMS order.
    std::array<std::uint16_t, INIT_PARAMS.size()> sent{};
    std::time_t at = 0; // when, UTC
    // What the driver reported for the PPA right after: how it is
    // recognised later.
    std::uint16_t id = 0;
    std::array<std::uint8_t, 6> mac{};
    int link_id = -1; // -1: not known
};

// The directory of the records: <run-state directory>/llc2, rooted.
std::string applied_dir(void);

// Writes PPA ppa's record atomically, making the directory and its missing
// parents (mode 0755) first. 0, or -1 after "Cannot record PPA %d: %s" on
// standard error: a warning, never a reason to fail an action.
int write_applied(int ppa, const applied_record &rec);

// Removes PPA ppa's record, when there is one. 0, or -1 after "Cannot
// record PPA %d: %s".
int remove_applied(int ppa);

// The PPAs that have a record, ascending.
std::vector<int> applied_ppas(void);

// Reads PPA ppa's record. false when there is none or it cannot be read
// whole (a damaged record counts as none).
bool read_applied(int ppa, applied_record &rec);

// The record still describes what the driver holds: the same identifier and
// MAC address. A driver reloaded and plumbed again alike cannot be told
// apart.
bool applied_matches(const applied_record &rec, const ppa_info &now);

// The record of what initialising ppa just sent: devicename and instance of
// its link, the ctl_init as sent, the driver's record now and the link
// identifier (-1 when not known); the time is now.
applied_record make_applied(const char *devicename, int instance, const ctl_init &sent,
                            const ppa_info &now, int link_id);

// The keywords, in file order, whose value initialising would send now
// (conf as read, defaults applied) differs from rec's: "devicename" and
// "deviceinstance" first when the link differs, then the parameters.
std::vector<const char *> pending_keywords(const applied_record &rec, const conf_values &conf);

// t as ISO 8601 in UTC, "2026-07-01T12:00:00Z", as the record writes "at";
// "" for a time that cannot be shown.
std::string iso_utc(std::time_t t);

// After ppa was initialised on fd with sent (conf: its file as read for
// that): asks the driver for the PPA once (GETPPA) and writes its record.
// link: what plumbing just made; null for a PPA plumbed earlier, which
// keeps the link of a record that still matches the driver, or else takes
// conf's device name and instance, its link identifier unknown. When the
// driver does not answer, the old record goes: it no longer says what the
// driver was given. Failures are warnings ("Cannot record PPA %d: %s").
void record_initialised(int ppa, int fd, const ctl_init &sent, const conf_values &conf,
                        const plumbed_link *link);

#endif
