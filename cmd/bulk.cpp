// SPDX-License-Identifier: Apache-2.0
// The start-up and shutdown jobs: every PPA whose file switches it on
// brought up, every PPA the driver knows taken down.
#include "control.h"
#include "link_journal.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_driver.h"
#include "llc2_ops.h"
#include "scan.h"
#include "write_ahead.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <libintl.h>
#include <map>
#include <vector>

namespace
{

// First pass: plumbs every node of conf_head through fd and unlinks (and
// frees) the nodes whose PPA did not plumb. Every node's stream is closed.
// What each PPA's initialising will record is prepared into records;
// all_recorded is cleared when a record could not be. false when a PPA that
// its file switches on did not plumb: a boot that leaves such a PPA down has
// failed, whatever the others did.
bool plumb_listed(int fd, std::map<int, prepared_record> &records, bool &all_recorded)
{
    bool all_up = true;
    conf_entry *kept = nullptr;
    conf_entry *node = conf_head;
    while (node != nullptr) {
        conf_entry *next = node->next;
        const plumb_outcome outcome =
            plumb_ppa(node->fp, node->ppa, fd, &records[node->ppa], &all_recorded);
        node->fp = nullptr; // closed by plumb_ppa, whatever it returned
        if (outcome == plumb_outcome::plumbed) {
            kept = node;
        } else {
            if (outcome == plumb_outcome::failed) {
                std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), node->ppa);
                all_up = false;
            }
            if (debug > 0)
                std::fprintf(stderr, "Removed PPA %d\n", node->ppa);
            (kept == nullptr ? conf_head : kept->next) = next;
            delete node;
        }
        node = next;
    }
    return all_up;
}

} // namespace

int llc2_plumb_all(void)
{
    // Nothing to plumb and no link left behind: the driver is not opened.
    if (conf_head == nullptr && journaled_links().empty())
        return 0;
    control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    const bool orphans_gone = unlink_orphans(ctl.fd) == 0;
    if (conf_head == nullptr)
        return orphans_gone ? 0 : -1;
    std::map<int, prepared_record> records;
    bool all_recorded = true;
    const bool all_plumbed = plumb_listed(ctl.fd, records, all_recorded);

    // Initialise on a stream of its own: nothing may depend on the plumbing
    // stream still being open. A driver that stopped answering is not
    // opened again: what is left is told without asking it.
    if (!reopen_control(ctl))
        return -1;
    // Any PPA that does not come up fails the job. The list's order is the
    // directory's and means nothing, so the last PPA's result alone must not
    // decide what a boot reports.
    int result = all_plumbed && orphans_gone ? 0 : -1;
    for (const conf_entry *node = conf_head; node != nullptr; node = node->next)
        if (init_plumbed_ppa(node->ppa, ctl.fd, true, &records[node->ppa], &all_recorded) == -1)
            result = -1;
    // Up, but what it was given is not recorded: the next run cannot tell it
    // from a PPA somebody else set up, and the job failed.
    return all_recorded ? result : -1;
}

int init_plumbed_ppa(int ppa, int fd, bool unplumb_on_failure, prepared_record *rec,
                     bool *all_recorded)
{
    if (debug > 0)
        std::fprintf(stderr, "Initializing PPA %d\n", ppa);
    if (llc2_init_ppa(ppa, fd, rec, all_recorded) == 0)
        return 0;
    if (debug > 0)
        std::fprintf(stderr, "Error in initializing PPA %d\n", ppa);
    // A driver that stopped answering is sent nothing more, not even this.
    if (unplumb_on_failure && driver_answering())
        (void)llc2_unplumb_ppa(ppa, fd);
    return -1;
}

int llc2_unplumb_all(void)
{
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    // Every PPA is taken down that can be; one that stays up fails the job,
    // so that a shutdown script can tell. Uninitialising does not count: the
    // driver may answer it either way. A scan that ends early ends the job:
    // the driver's table may simply end there, and what was found is down.
    scan_plan plan;
    plan.dlpi = false;
    plan.lookup = conf_lookup::none;
    plan.trace = false;
    int result = unlink_orphans(ctl.fd);
    bool left_as_is = false;
    scan_ppas(ctl.fd, plan, [&ctl, &result, &left_as_is](const ppa_facts &f) {
        if (debug > 0)
            std::fprintf(stderr, "Unplumbing PPA %d\n", f.ppa);
        prepared_record none;
        if (write_ahead(f.ppa, ppa_change::take_down, nullptr, none, nullptr) == ahead::refused) {
            left_as_is = true;
            result = -1;
        } else if (llc2_take_down_ppa(f.ppa, ctl.fd, false) == -1) {
            result = -1;
        }
    });
    // Whatever earlier runs, or other programs, left linked goes too: a
    // shutdown leaves the driver nothing beneath it. Not past a PPA left as
    // it is: its link would go with the rest.
    if (left_as_is)
        return -1;
    if (unlink_everything(ctl.fd) == -1)
        result = -1;
    return result;
}
