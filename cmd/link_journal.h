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
#include <string_view>
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

// The intent before I_PLINK: until I_PLINK answers, the link it may make
// has no identifier, and a run killed in that moment leaves a link that no
// entry names. So the intent to link device for ppa is written first,
// "intent.<ppa>.<run>" (a name of this run's own, so that an intent a dead
// run left is never taken for this run's), and becomes the entry
// "link.<id>" once I_PLINK returned the identifier. An intent that outlives
// its run is a link that may be held and cannot be named: only I_PUNLINK of
// MUXID_ALL removes it. A journal that cannot be written only loses the
// safety net: silent but under -d. 0, or the errno.
int journal_intent(int ppa, std::string_view device);

// I_PLINK made link_id for ppa: this run's intent becomes the entry of
// link_id in one rename, so that the journal never holds both or neither.
// Without an intent to rename, the entry is written as journal_link does,
// and the intent is kept when that fails. 0, or the errno.
int journal_intent_linked(int ppa, int link_id);

// Removes this run's intent for ppa: no link was made (the plumb ended
// before I_PLINK, or I_PLINK was refused). One that is not there is gone
// already.
void drop_intent(int ppa);

// The intents in the directory, whoever wrote them: links an interrupted
// run may have left, identifiers not known. A running plumb's own counts
// too, for as long as its I_PLINK has not answered.
int unknown_links(void);

// The entries, ascending by link identifier. Only "link." and a number as
// llc2 writes it count: the records, their temporary files and the lock
// file are passed over.
std::vector<journaled_link> journaled_links(void);

// The journal's links that no PPA holds, given the identifiers the held PPAs
// reported (GETLINK): ascending. Only looks.
std::vector<int> orphan_links(const std::vector<int> &bound);

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

// What unlink_orphans would do on fd, as a dry run foresees it: the same
// requests asked and the same links found, nothing unlinked and the journal
// left as it is. Each link it would unlink is said as "Link <id>: would
// unlink (left by an interrupted run)" on standard output, or appended to
// would_unlink when that is given. A link the driver no longer has cannot
// be told from one it holds without unlinking it: it is named too. 0, or
// -1 after "Cannot tell which links the driver holds: %s".
int foresee_orphans(int fd, std::vector<int> *would_unlink = nullptr);

// -U's last step: I_PUNLINK of MUXID_ALL on fd, every link the driver
// holds, bound or not, whoever made it; then the journal is emptied, the
// intents too. 0, or
// -1 after "Error unlinking every link: %s".
int unlink_everything(int fd);

#endif
