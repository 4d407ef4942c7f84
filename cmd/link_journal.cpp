// SPDX-License-Identifier: Apache-2.0
// The link journal: one small file per link made and not yet bound,
// "link.<id>" beside the applied records, preceded by an intent while
// I_PLINK has not answered, replaced atomically as they are and, like
// them, not synced: the directory is emptied at boot, and so are the
// driver's links.
#include "link_journal.h"

#include "applied.h"
#include "control.h"
#include "durable_file.h"
#include "llc2_debug.h"
#include "llc2_driver.h"
#include "llc2_report.h"
#include "output.h"
#include "scan.h"
#include "status_words.h"
#include "streams.h"
#include "whole_number.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libintl.h>
#include <string>
#include <string_view>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr std::string_view PREFIX = "link.";
constexpr std::string_view HEADER =
    "# llc2's journal of a link it made and had not yet bound to its PPA";
constexpr std::string_view PPA_KEY = "ppa";
constexpr std::string_view INTENT_PREFIX = "intent.";
constexpr std::string_view INTENT_HEADER =
    "# llc2's intent to link a device beneath the driver for a PPA";
// An entry is two short lines; anything longer is not one of ours.
constexpr std::size_t ENTRY_MAX = 256;

std::string entry_name(int link_id)
{
    return std::string(PREFIX) + std::to_string(link_id);
}

// This run's part of an intent's name: the process and the time it first
// wrote one, so that a dead run's intent under a reused process number is
// still not this run's.
const std::string &run_token()
{
    static const std::string token = [] {
        timespec now{};
        (void)clock_gettime(CLOCK_REALTIME, &now);
        return std::to_string(getpid()) + "-" + std::to_string(now.tv_sec) + "-" +
               std::to_string(now.tv_nsec);
    }();
    return token;
}

std::string intent_path(int ppa)
{
    return applied_dir() + "/" + std::string(INTENT_PREFIX) + std::to_string(ppa) + "." +
           run_token();
}

// Removes a journal file; one that is not there is gone already. A file
// that stays is said only under -d: the journal is a safety net.
void remove_entry(const std::string &path)
{
    if (unlink(path.c_str()) != 0 && errno != ENOENT && debug > 0)
        std::fprintf(stderr, "Cannot remove %s: %s\n", path.c_str(), std::strerror(errno));
}

std::string entry_text(int ppa)
{
    return std::string(HEADER) + "\n" + std::string(PPA_KEY) + "=" + std::to_string(ppa) + "\n";
}

// The PPA an entry's text names, -1 when it names none.
int entry_ppa(const std::string &path)
{
    const auto v = read_run_state(path, HEADER, {PPA_KEY}, ENTRY_MAX);
    return static_cast<int>(v ? whole_number((*v)[0], 0, INT_MAX).value_or(-1) : -1);
}

} // namespace

int journal_link(int link_id, int ppa)
{
    const int err = replace_run_state(applied_dir() + "/", entry_name(link_id), entry_text(ppa));
    if (err != 0 && debug > 0)
        std::fprintf(stderr, "Cannot journal link %d: %s\n", link_id, std::strerror(err));
    return err;
}

void unjournal_link(int link_id)
{
    remove_entry(applied_dir() + "/" + entry_name(link_id));
}

int journal_intent(int ppa, std::string_view device)
{
    const std::string path = intent_path(ppa);
    const int err =
        replace_run_state(applied_dir() + "/", path.substr(path.rfind('/') + 1),
                          std::string(INTENT_HEADER) + "\n" + std::string(PPA_KEY) + "=" +
                              std::to_string(ppa) + "\ndevice=" + std::string(device) + "\n");
    if (err != 0 && debug > 0)
        std::fprintf(stderr, "Cannot journal the link for PPA %d: %s\n", ppa, std::strerror(err));
    return err;
}

int journal_intent_linked(int ppa, int link_id)
{
    const std::string intent = intent_path(ppa);
    // The intent's text becomes the entry's in place: its name alone tells
    // what it is until the rename, and the rename is the one step.
    const int fd =
        open(intent.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        const int err = write_all(fd, entry_text(ppa));
        if (close(fd) == 0 && err == 0 &&
            rename(intent.c_str(), (applied_dir() + "/" + entry_name(link_id)).c_str()) == 0)
            return 0;
    }
    // No intent, or it cannot become the entry: the entry on its own, and
    // the intent kept unless the entry replaces it.
    const int err = journal_link(link_id, ppa);
    if (err == 0)
        drop_intent(ppa);
    return err;
}

void drop_intent(int ppa)
{
    remove_entry(intent_path(ppa));
}

namespace
{

// The intents' names in the directory: "intent.", a PPA number as llc2
// writes it, '.' and a run's token.
std::vector<std::string> intent_names(void)
{
    std::vector<std::string> out;
    for (numbered_name &n : numbered_names(INTENT_PREFIX, 0, INT_MAX))
        if (n.rest.size() > 1) // '.' and a token
            out.push_back(std::move(n.name));
    return out;
}

} // namespace

int unknown_links(void)
{
    return static_cast<int>(intent_names().size());
}

std::vector<journaled_link> journaled_links(void)
{
    std::vector<journaled_link> out;
    const std::string dir = applied_dir() + "/";
    for (const numbered_name &n : numbered_names(PREFIX, 0, INT_MAX))
        if (n.rest.empty())
            out.push_back({static_cast<int>(n.number), entry_ppa(dir + n.name)});
    std::sort(out.begin(), out.end(), [](const journaled_link &a, const journaled_link &b) {
        return a.link_id < b.link_id;
    });
    return out;
}

std::vector<int> orphan_links(const std::vector<int> &bound)
{
    std::vector<int> orphans;
    for (const journaled_link &e : journaled_links())
        if (std::find(bound.begin(), bound.end(), e.link_id) == bound.end())
            orphans.push_back(e.link_id);
    return orphans;
}

namespace
{

// The identifiers of the links the driver's PPAs hold, for the journal's
// entries: GETPPA of 0 to LLC2_MAX_PPA - 1 and of the PPAs the entries
// name, GETLINK of each held one. false after "Cannot tell which links the
// driver holds: %s".
bool bound_links(int fd, const std::vector<journaled_link> &journal, std::vector<int> &bound)
{
    // Every number a link could be bound under that the driver can be asked
    // about, each on its own: a scan that ends early would leave a PPA
    // unasked, and the link it holds would be taken for a lost one.
    std::vector<int> numbers;
    numbers.reserve(LLC2_MAX_PPA + journal.size());
    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa)
        numbers.push_back(ppa);
    for (const journaled_link &e : journal)
        if (e.ppa >= 0 && e.ppa <= LLC2_GETPPA_MAX)
            numbers.push_back(e.ppa);
    numbers = distinct_ppas(numbers);
    scan_plan plan;
    plan.dlpi = false;
    plan.trace = false;
    plan.lookup = conf_lookup::none;
    plan.only = &numbers;
    std::string why;
    scan_ppas(fd, plan, [fd, &bound, &why](const ppa_facts &f) {
        if (!why.empty())
            return;
        if (untold(f)) {
            why = f.untold_why;
        } else if (f.held) {
            const int id = ask_link(fd, f.ppa).value_or(-1);
            if (id < 0)
                why = reason_of(errno);
            else
                bound.push_back(id);
        }
    });
    if (why.empty())
        return true;
    std::fprintf(stderr, gettext("Cannot tell which links the driver holds: %s\n"), why.c_str());
    return false;
}

// "Link <id>: <words>" on standard output, or the id appended to ids.
void say_link(int id, std::string_view words, std::vector<int> *ids)
{
    if (ids != nullptr) {
        ids->push_back(id);
        return;
    }
    std::printf("Link %d: %.*s\n", id, static_cast<int>(words.size()), words.data());
    order_output();
}

// The links an interrupted run left: the journal read once and the driver
// asked which of its links the PPAs hold, the same for a dry run as for the
// real one. An entry whose link a PPA holds is only one a run killed after
// SETPPA left, and goes; each other one is unlinked, or in a dry run named
// as one to unlink, and nothing changes.
int settle_orphans(int fd, bool dry_run, std::vector<int> *ids)
{
    const std::vector<journaled_link> journal = journaled_links();
    if (journal.empty())
        return 0;
    std::vector<int> bound;
    if (!bound_links(fd, journal, bound))
        return -1;
    std::vector<int> orphans;
    for (const journaled_link &e : journal) {
        if (std::find(bound.begin(), bound.end(), e.link_id) == bound.end())
            orphans.push_back(e.link_id);
        else if (!dry_run)
            unjournal_link(e.link_id);
    }
    int result = 0;
    for (const int id : orphans) {
        if (dry_run) {
            say_link(id, LINK_WOULD_UNLINK, ids);
            continue;
        }
        if (llc2_unlink(fd, id) == 0) {
            say_link(id, LINK_UNLINKED, ids);
        } else if (errno != EINVAL) {
            report_errno("Error unlinking link %d: %s\n", id);
            result = -1;
            continue;
        } else if (debug > 0) {
            // Gone already: the driver was reloaded, or the link was
            // removed by hand.
            std::fprintf(stderr, "Link %d: not linked any more\n", id);
        }
        unjournal_link(id);
    }
    return result;
}

} // namespace

int foresee_orphans(int fd, std::vector<int> *would_unlink)
{
    return settle_orphans(fd, true, would_unlink);
}

int unlink_orphans(int fd, std::vector<int> *unlinked)
{
    return settle_orphans(fd, false, unlinked);
}

int unlink_everything(int fd)
{
    if (llc2_unlink(fd, MUXID_ALL) != 0) {
        report_errno("Error unlinking every link: %s\n");
        return -1;
    }
    for (const journaled_link &e : journaled_links())
        unjournal_link(e.link_id);
    // What the intents might have named is gone too.
    const std::string dir = applied_dir() + "/";
    for (const std::string &name : intent_names())
        remove_entry(dir + name);
    return 0;
}
