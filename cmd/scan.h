// SPDX-License-Identifier: Apache-2.0
// The one scan of the driver's PPAs behind the status table, --json,
// --status and --apply: for each PPA, one at a time, what the driver holds
// for it (LLC2_IOC_GETPPA), what DLPI says and what its configuration file
// says, gathered in one record and handed to a presenter.
#ifndef LLC2_CMD_SCAN_H
#define LLC2_CMD_SCAN_H

#include "applied.h"
#include "control.h"
#include "device_info.h"
#include "llc2_conf.h"
#include "llc2_driver.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One PPA as llc2 sees it.
struct ppa_facts {
    int ppa = 0;       // the number asked about
    bool held = false; // the driver answered GETPPA for it
    ppa_info driver{}; // the driver's GETPPA answer, when held
    // Why what the driver holds is not known, when it is not: a probe (or
    // the link's) failed otherwise than with ENOENT, was never answered or
    // could not be made. Empty when held says it all.
    std::string untold_why;
    bool dlpi_known = false; // the DLPI exchange told (when the plan asks)
    dlpi_facts dlpi{};
    // The directory has its file, by the one name rule (quiet lookups; the
    // table knows only whether the file was read). "Configured" means this
    // and only this here; a file may still switch the PPA off
    // (switched_on), and either may or may not be as_configured.
    bool has_file = false;
    bool conf_read = false; // the file was read whole into conf
    conf_values conf{};
    std::string conf_error; // why it could not be, quiet lookups only
    // What llc2 gave the driver, when the plan reads records: each part of
    // the record that the driver confirms for the PPA it holds now.
    bool has_record = false; // some part is there, proven or not
    std::optional<plumbed_link> link;
    std::optional<applied_params> params;
    // The link identifier the driver reported for the PPA (GETLINK), when
    // it was asked: for a held PPA whose record names a link, or for every
    // held PPA with the plan's links. -1 otherwise.
    int link_id = -1;
};

enum class conf_lookup {
    // As the status table has always read it: open_conf and read_conf_file,
    // with their messages on standard error, for held PPAs only.
    table,
    // Only the numbers in configured are looked for, read without a word;
    // the reason for an unusable file goes into conf_error.
    quiet,
    // No file is looked at.
    none,
};

struct scan_plan {
    bool dlpi = true;  // run the DLPI exchange for every held PPA presented
    bool trace = true; // "Checking PPA %d" under debug
    // Read each PPA's applied record and judge it against the driver.
    bool records = false;
    // With records: ask every held PPA for its link (GETLINK), not only
    // those whose record names one, to tell which links are bound.
    bool links = false;
    // Once one DLPI reply never comes, ask no further PPA by DLPI: a driver
    // that does not answer costs one wait, not one per PPA.
    bool dlpi_gives_up = false;
    // When the walk over 0 to LLC2_MAX_PPA - 1 ends at a refusal other than
    // ENOENT, every number after it up to LLC2_MAX_PPA - 1 is probed on its
    // own, so that a PPA held beyond the refusal is still found; a refusal
    // of that probe presents the number as untold.
    bool probe_rest = false;
    conf_lookup lookup = conf_lookup::table;
    // Ascending. With a quiet lookup: the configured PPAs, which are
    // presented whether the driver holds them or not.
    const std::vector<int> *configured = nullptr;
    // Ascending. Presented too, held or not, without being configured.
    const std::vector<int> *also = nullptr;
    // Ascending. When set, exactly these numbers are presented (held or not),
    // and no other PPA's DLPI or file is asked about.
    const std::vector<int> *only = nullptr;
};

using ppa_presenter = std::function<void(const ppa_facts &)>;

// How far the driver answered a scan.
struct scan_result {
    bool answered = true;      // no request went unanswered (ETIME)
    bool dlpi_answered = true; // no DLPI reply failed to come in time
    // Once the driver stopped answering, the numbers of the walk from here
    // to LLC2_MAX_PPA - 1 were not asked (or not answered): nothing is known
    // of them. -1 when the walk was not cut short so.
    int unasked_from = -1;
};

// Hands present each PPA the plan wants, in ascending order of number and
// each once, as soon as everything about it is known. Without only, the
// driver is asked about PPAs 0 to LLC2_MAX_PPA - 1 on the control stream fd
// in turn, as the status table always has (fresh GETPPA record, "Checking
// PPA %d" under debug, ENOENT passes over a number, any other refusal ends
// that walk quietly). A wanted number the walk did not answer for (it ended
// before it, its probe failed, it lies beyond the walk, or only names it)
// is probed on its own: ENOENT is not held, an answer is held, anything
// else leaves it untold. With records, each held PPA whose record names a
// link is asked for its link (GETLINK); a refusal leaves it untold. Once a
// request goes unanswered (ETIME) nothing more is asked: every number not
// yet told is untold.
scan_result scan_ppas(int fd, const scan_plan &plan, const ppa_presenter &present);

// The driver could not be asked or did not answer: not held, not free.
bool untold(const ppa_facts &f);

// The table's word for the driver's state flags: "bad", "up", "off" or
// "down"; the first of the three bits set decides.
const char *state_word(std::uint8_t state);

// The driver holds the PPA and says it is up.
bool is_up(const ppa_facts &f);

// The file was read and switches the PPA on: llc2 -P would plumb it.
bool switched_on(const ppa_facts &f);

// The keywords whose value initialising would send now differs from what
// was applied, or is not known (pending_keywords), for a held PPA with a
// usable file; null otherwise.
std::optional<std::vector<const char *>> pending(const ppa_facts &f);

// Keywords as --status and --apply name them: "acktimer, maxretry".
std::string keyword_list(const std::vector<const char *> &words);

// The numbers of a scan the driver was not asked about once it stopped
// answering, as the JSON documents give them: {"from":n,"to":63,"reason":
// "..."}, or null when the scan was whole.
std::string unasked_json(const scan_result &scanned);

// The PPA is as its configuration wants it: switched on and up with
// nothing pending (so a proven link and proven parameters), or switched off
// and not held. A PPA whose file is
// unusable never is, and neither is one the driver left untold.
bool as_configured(const ppa_facts &f);

// What the presenters for programs (--json, --metrics) tell of one PPA,
// decided here once, so that a fact cannot be shown one way and exported
// another. Each is empty where it is not known.
inline constexpr const char *NOT_PLUMBED_WORD = "not plumbed";
inline constexpr const char *UNKNOWN_WORD = "unknown";

struct ppa_view {
    // The table's word for a PPA held, "not plumbed" for one the driver
    // said it does not hold, "unknown" for one it did not tell about.
    const char *state = UNKNOWN_WORD;
    std::optional<bool> up;            // empty when neither held nor told
    std::optional<bool> as_configured; // untold: empty
    std::optional<std::vector<const char *>> pending;
    std::optional<std::time_t> applied_at; // only proven parameters
};
ppa_view view_of(const ppa_facts &f);

// The links interrupted runs left (see link_journal.h), as --status, --json
// and --metrics tell them: learnt from the scan's answers, each held PPA
// being asked for its link (plan.links) only when the journal is not empty,
// so that the common case costs no request. The links are the driver's as a
// whole: a watch of named PPAs alone (whole false) tells none.
struct orphan_watch {
    explicit orphan_watch(bool whole = true);
    bool journaled; // the journal holds an entry: ask each held PPA its link
    // The intents left without an identifier: links that may be held.
    int unknown;

    // Takes in each PPA the scan presents.
    void see(const ppa_facts &f);
    // The journaled links no held PPA reported, ascending; none when a PPA
    // could not be told (the link might be its).
    std::optional<std::vector<int>> orphans() const;

  private:
    bool complete_ = true; // every PPA presented was told
    std::vector<int> bound_;
};

// Opens the control stream into ctl and reads the configured PPAs
// (configured_ppas). false after "Cannot open LLC2 device: %s" or
// the configuration directory's (report_conf_dir_unread); a directory not there is a
// configuration without PPAs.
bool open_for_scan(control_stream &ctl, std::vector<int> &configured);

// A plan that presents every PPA held or configured, reading the files
// quietly; with or without the DLPI exchange.
scan_plan quiet_plan(const std::vector<int> &configured, bool dlpi);

// The PPAs named on a command line as a plan's only: ascending, each once.
std::vector<int> distinct_ppas(std::vector<int> named);

#endif
