// SPDX-License-Identifier: Apache-2.0
// The operations the command runs, one per action or step of an action.
// Each returns 0 on success and -1 on failure after writing its own message
// to standard error; callers test only for -1. None of them exits, and none
// closes a control stream fd it was handed.
#ifndef LLC2_CMD_OPS_H
#define LLC2_CMD_OPS_H

#include "llc2_conf.h"
#include "llc2_driver.h"

#include <cstdio>
#include <string>
#include <vector>

struct prepared_record;

// Takes PPA ppa out of service: LLC2_IOC_CONTROL with ctl_uninit, then
// LLC2_IOC_DISABLE, both sent whatever the driver answers, then removes the
// parameter part of its applied record (the link stays). Silent but for a
// record that cannot be removed; always 0.
int llc2_uninit_ppa(int ppa, int fd);

// The same two requests for a re-initialise of a PPA that is up, each
// checked: a refusal means the new values cannot follow. The record is the
// caller's. 0, or -1 after "Error uninitializing PPA %d: %s\n" or
// "Error disabling PPA %d: %s\n".
int uninit_for_reinit(int ppa, int fd);

// Removes the lower stream of PPA ppa: asks the driver for its link
// identifier (LLC2_IOC_GETLINK) and unlinks that identifier (I_PUNLINK),
// then removes its whole applied record. A PPA that stays linked keeps the
// link part, which the driver can still prove or disprove.
// 0, or -1 after "Error getting info from PPA %d: %s\n" or
// "Error unplumbing PPA %d: %s\n".
int llc2_unplumb_ppa(int ppa, int fd);

// Takes PPA ppa down as -u does: uninitialises it, pauses a second so the
// driver can wind its connections down, and unplumbs it. What
// llc2_unplumb_ppa returns. With initialised (a PPA seen up), a refused
// UNINIT or DISABLE stops it there, as for a re-initialise: -1 after the
// step's message, the parameter part removed (no longer known), the PPA
// still linked and its link part kept. Without it (a PPA not up, or one
// not asked about), the driver may refuse UNINIT for a PPA never
// initialised, so neither answer is looked at.
int llc2_take_down_ppa(int ppa, int fd, bool initialised);

// Links the network interface named by the configuration in fp beneath the
// driver and binds it to ppa. Takes fp over and closes it on every path.
int llc2_plumb_ppa(FILE *fp, int ppa, int fd);

// What plumbing made: the interface linked, its instance and the link
// identifier I_PLINK returned; the link part of the applied record.
struct plumbed_link {
    std::string devicename;
    int instance = 0;
    int link_id = -1;
};

// llc2_plumb_ppa, telling a PPA that its file switches off (llc2_on=0) from
// one that should have come up and did not. The device is opened first,
// then the PPA's record is written ahead into *rec (write_ahead; a local
// one when rec is null), then it is linked (link_device). *all_recorded,
// when given, is cleared when the record could not be prepared or written
// (after its warning): the run fails then.
enum class plumb_outcome { plumbed, switched_off, failed };
plumb_outcome plumb_ppa(FILE *fp, int ppa, int fd, prepared_record *rec, bool *all_recorded);

// Opens the network interface conf names, /dev/<devicename>, read-write:
// the stream, or -1 with errno. Says "Device name too long: %s" for a name
// that does not fit; a missing device, or a name that leaves /dev, only
// under -d; none is opened once the driver has stopped answering ("Error
// plumbing %s: %s", ETIME).
int open_device(const conf_values &conf);

// Whether the device conf names is there to be opened, as far as a look
// can tell (a dry run's foresight): 0, or the errno.
int device_there(const conf_values &conf);

// Links lower (an opened device, taken over and closed on every path)
// beneath the driver through fd and binds it to ppa (SETPPA), journaling
// the link until it is bound; then completes the link part prepared in rec
// (record_link), clearing *all_recorded, when given, if it could not be.
// "Error plumbing %s: %s" or "Error setting PPA(%d) on %s: %s" on failure.
plumb_outcome link_device(int lower, const conf_values &conf, int ppa, int fd, prepared_record *rec,
                          bool *all_recorded);

// Enables PPA ppa (LLC2_IOC_ENABLE, up to five attempts a second apart)
// and hands it the parameters of its configuration file; then records them
// (confirm_params) into the parameter part prepared in rec. With rec null
// (-i), the change is written ahead here first, after the file is read and
// before ENABLE: -1 when write_ahead refuses it, nothing sent.
// *all_recorded, when given, is cleared when the record could not be
// written (after its warning): the run fails then.
int llc2_init_ppa(int ppa, int fd, prepared_record *rec, bool *all_recorded);

// Plumbs every PPA of conf_head on one control stream, then initialises the
// ones that plumbed on a second. -1 when any PPA that is switched on did not
// come up ("Cannot plumb PPA %d\n" for one that did not plumb).
int llc2_plumb_all(void);

// llc2_init_ppa with the traces of -P's second pass ("Initializing PPA %d",
// "Error in initializing PPA %d" under debug). When it fails and
// unplumb_on_failure is set, the PPA is unplumbed again, since it was
// plumbed by this run and is of no use half up.
int init_plumbed_ppa(int ppa, int fd, bool unplumb_on_failure, prepared_record *rec,
                     bool *all_recorded);

// Uninitialises and unplumbs every PPA the driver reports. 0, or -1 when
// the control device did not open or any PPA it found failed to unplumb
// (after that PPA's message; the others are still taken down). A scan that
// ends at an answer other than ENOENT ends silently and does not count.
int llc2_unplumb_all(void);

// Prints the status table of every PPA the driver knows.
int llc2_query(void);

// The status table as one JSON document on standard output: every PPA the
// driver holds or that is configured. 0, or -1 when the driver or the
// configuration directory cannot be opened (nothing written to standard
// output then).
int llc2_json(void);

// --status: "PPA <n>: <what>" for each PPA named, or for every PPA held or
// configured when none is. Returns an exit status, not 0/-1.
inline constexpr int STATUS_AS_CONFIGURED = 0;
inline constexpr int STATUS_NOT_AS_CONFIGURED = 3;
inline constexpr int STATUS_UNKNOWN = 4; // the driver or the directory cannot be read
int llc2_status(const std::vector<int> &ppas);

// --metrics: what --status tells of the same PPAs, and how the scan went, as
// Prometheus metrics on standard output. 0 once they are written, also when
// the driver could not be opened or stopped answering (llc2_scan_success
// says so); a write that failed is finish_output's to tell.
int llc2_metrics(const std::vector<int> &ppas);

// What --apply was asked: only some PPAs, a dry run, taking down what the
// configuration does not switch on.
struct apply_options {
    std::vector<int> ppas; // empty: every PPA held, configured or recorded
    bool dry_run = false;
    bool prune = false;
    bool json = false; // one JSON document on standard output instead of the lines
};

// Brings the driver to the configuration and only that: plumbs and
// initialises switched-on PPAs the driver lacks, initialises those it holds
// that are not up, initialises again those up with other values than were
// applied (plumbed again on a changed link), with prune takes down the ones
// held and not switched on, touches nothing else. 0 when every switched-on
// PPA acted on is up afterwards; -1 otherwise, or when a file could not be
// used or a configured PPA could not be told. A dry run sends nothing but
// the probes and says what it would do.
int llc2_apply(const apply_options &options);

#endif
