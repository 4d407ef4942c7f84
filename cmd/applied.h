// SPDX-License-Identifier: Apache-2.0
// What llc2 gave the driver for each PPA. The driver cannot be asked for a
// PPA's parameters, so llc2 keeps a small record of its own in two parts,
// each written by the step that knows it: the link (device name, instance
// and the identifier I_PLINK returned) when it plumbs the PPA, the
// parameters (the ten values sent, when, and how the driver reported the
// PPA right after) when it initialises it. A part proves something only
// while the driver confirms it: the link while LLC2_IOC_GETLINK reports the
// same identifier, the parameters while LLC2_IOC_GETPPA reports the same
// identifier and MAC address and the initialisation was seen to succeed.
// The records are llc2's own; nothing else reads or writes them.
#ifndef LLC2_CMD_APPLIED_H
#define LLC2_CMD_APPLIED_H

#include "init_params.h"
#include "llc2_conf.h"
#include "llc2_driver.h"
#include "llc2_ops.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The parameter part.
struct applied_params {
    // Written before a re-initialise uninitialises the PPA, and confirmed
    // once the driver took the new values: an unconfirmed part says only
    // that a run set out to send them.
    bool confirmed = false;
    // The ten values of ctl_init as sent, in INIT_PARAMS order.
    std::array<std::uint16_t, INIT_PARAMS.size()> sent{};
    std::time_t at = 0; // when, UTC
    // What the driver reported for the PPA right after: how it is
    // recognised later.
    std::uint16_t id = 0;
    std::array<std::uint8_t, 6> mac{};
};

class pending_file;

// The directory of the records: <run-state directory>/llc2, rooted.
std::string applied_dir(void);

// PPA ppa's parts written ahead of a change (write_ahead): each temporary
// file already holds the part's whole text, the values not known yet at
// their widest, so that completing it needs no more room than it has. A
// part not completed is removed with its holder.
struct prepared_record {
    std::unique_ptr<pending_file> link;
    std::unique_ptr<pending_file> params;
    // Could not be prepared, and said so: the change goes on unrecorded, and
    // the parts are not tried (nor warned of) again.
    bool unrecorded = false;
    prepared_record();
    ~prepared_record();
    prepared_record(prepared_record &&) noexcept;
    prepared_record &operator=(prepared_record &&) noexcept;
};

// Prepares PPA ppa's link part for a link of devicename and instance into
// rec, or its parameter part. 0, or the errno; nothing is renamed, so the
// record stays as it was.
int prepare_link_part(int ppa, const char *devicename, int instance, prepared_record &rec);
int prepare_params_part(int ppa, prepared_record &rec);

// Marks PPA ppa's parameter part as not confirmed for planned, as a change
// about to be made leaves it; a part that cannot be rewritten is removed,
// and so is a part that is not there to be marked. 0, or the errno when a
// part is left that still says it is confirmed.
int unconfirm_params(int ppa, const ctl_init &planned);

// Removes PPA ppa's parameter part, quietly. 0, or the errno (a part that is
// not there is gone already).
int drop_params(int ppa);

// Writes PPA ppa's link part (and drops its parameter part: a PPA plumbed
// anew has been given no parameters yet), into the part prepared in ahead
// when there is one. 0, or -1 after "Cannot record PPA %d: %s" on standard
// error.
int record_link(int ppa, const plumbed_link &link, prepared_record *ahead = nullptr);

// Writes PPA ppa's parameter part for sent; confirmed with now, the driver's
// report of the PPA after it took them, or unconfirmed when now is null;
// into the part prepared in ahead when there is one.
// 0, or -1 after "Cannot record PPA %d: %s".
int record_params(int ppa, const ctl_init &sent, const ppa_info *now,
                  prepared_record *ahead = nullptr);

// After ppa took sent on fd: asks the driver how it sees the PPA
// (GETPPA) and records the parameters as confirmed. When it cannot ask,
// the part is left unconfirmed: a warning, "Cannot record PPA %d: %s".
// 0 or -1.
int confirm_params(int ppa, int fd, const ctl_init &sent, prepared_record *ahead);

// Removes PPA ppa's parameter part (-r: the link stays). 0, or -1 after
// "Cannot record PPA %d: %s".
int forget_params(int ppa);

// Removes both parts (the PPA is taken down). 0, or -1 after the warning.
int forget_record(int ppa);

// Whether the run-state directory could take a record, as a dry run
// foresees it: nothing is made or written, it, or the nearest parent that
// is there, is a directory this process may write in. 0, or the errno.
int records_writable(void);

// Whether PPA ppa's parts can be put in place: 0, or EISDIR when a
// directory has a part's name (no rename replaces it). Only looks.
int record_replaceable(int ppa);

// The PPAs that have a record part, ascending, each once.
std::vector<int> recorded_ppas(void);

// A name in the run-state directory made as llc2 makes its names: a prefix,
// a number as std::to_string spells it, then nothing or '.' and more.
struct numbered_name {
    std::string name; // the whole name
    long long number = 0;
    std::string rest; // what follows the number: "", ".link", ".41-1-2"
};

// The names in the run-state directory that are prefix and a number in
// [low, high] (whole_number), then nothing or '.' and more; in the
// directory's order. None when the directory cannot be read.
std::vector<numbered_name> numbered_names(std::string_view prefix, long long low, long long high);

// The values of the small run-state file at path when it is exactly header,
// then one line "<key>=<value>" for each of keys in order, and nothing more:
// a regular file, not reached through a symbolic link (opened without
// blocking), of at most max bytes, with no NUL in it. None for anything
// else: a file not exactly as llc2 writes it says nothing we could trust.
std::optional<std::vector<std::string>> read_run_state(const std::string &path,
                                                       std::string_view header,
                                                       const std::vector<std::string_view> &keys,
                                                       std::size_t max);

// Reads PPA ppa's parts. A part that is missing or not exactly what llc2
// writes (damaged, oversize, not a regular file) is none.
std::optional<plumbed_link> read_link_part(int ppa);
std::optional<applied_params> read_params_part(int ppa);

// The parameter part still describes what the driver holds: confirmed, and
// the same identifier and MAC address. A driver reloaded and plumbed again
// alike cannot be told apart.
bool params_proven(const applied_params &rec, const ppa_info &now);

// The link identifier the driver reports for ppa (GETLINK on fd), or none
// with errno when it refused or did not answer (ETIME).
std::optional<int> ask_link(int fd, int ppa);

// The keywords, in file order, whose value initialising would send now (conf
// as read, defaults applied) differs from the record's, or is not known:
// "devicename" and "deviceinstance" first when the link differs or link is
// null, then the parameters (every one of them when params is null).
std::vector<const char *> pending_keywords(const plumbed_link *link, const applied_params *params,
                                           const conf_values &conf);

// t as ISO 8601 in UTC, "2026-07-01T12:00:00Z", as the record writes "at";
// "" for a time that cannot be shown.
std::string iso_utc(std::time_t t);

#endif
