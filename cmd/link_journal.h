// SPDX-License-Identifier: Apache-2.0
// The journal of links: a link that I_PLINK made is bound to its PPA by a
// second request, and a run killed in between leaves a lower stream linked
// under no PPA, which no request names and which stays until the driver is
// unloaded. So every link made is written down in the run-state directory
// before it is bound and struck out once it is bound (or unlinked again);
// what the journal still holds after a run is a link that run left. The
// starting and stopping actions unlink those, --status and --json tell them.
#ifndef LLC2_CMD_LINK_JOURNAL_H
#define LLC2_CMD_LINK_JOURNAL_H

#include <optional>
#include <vector>

// One journal entry: "link.<id>" among the applied records, whose text names
// the PPA the link was made for.
struct journaled_link {
    int link_id = 0;
    int ppa = -1; // -1 when the entry's text does not say
};

// Writes the entry for link_id, made for ppa (the directory is made when
// missing). A journal that cannot be written only loses the safety net:
// silent but under -d. 0, or the errno.
int journal_link(int link_id, int ppa);

// Strikes link_id's entry out; one that is not there is gone already.
void unjournal_link(int link_id);

// The entries, ascending by link identifier. Only "link." and a number as
// llc2 writes it count: the records, their temporary files and the lock
// file are passed over.
std::vector<journaled_link> journaled_links(void);

// The journal's links that no PPA holds, given the identifiers the held PPAs
// reported (GETLINK): ascending. Entries whose link a PPA holds are only
// struck out when drop_bound is set (a run that changes the driver; a
// status report changes nothing).
std::vector<int> orphan_links(const std::vector<int> &bound, bool drop_bound);

// At the start of -P, -U and --apply, on the control stream fd: when the
// journal holds an entry, asks the driver which links its PPAs hold (GETPPA
// of 0 to LLC2_MAX_PPA - 1 and of the PPAs the entries name, GETLINK of each
// held one) and unlinks each journaled link none holds, saying
// "Link <id>: unlinked (left by an interrupted run)" on standard output (or,
// when unlinked is given, appending the id to it and saying nothing) and
// striking the entry out. A link the driver no longer has (EINVAL) is only
// struck out. Nothing is unlinked when a PPA could not be told: the link
// might be its. An empty journal costs no request. 0, or -1 after
// "Error unlinking link %d: %s" (the entry kept) or "Cannot tell which links
// the driver holds: %s".
int unlink_orphans(int fd, std::vector<int> *unlinked = nullptr);

// -U's last step: I_PUNLINK of MUXID_ALL on fd, every link the driver
// holds, bound or not, whoever made it; then the journal is emptied. 0, or
// -1 after "Error unlinking every link: %s".
int unlink_everything(int fd);

#endif
