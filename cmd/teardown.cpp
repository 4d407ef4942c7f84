// SPDX-License-Identifier: Apache-2.0
// Taking one PPA down: the two requests of uninitialising and the two of
// unplumbing. Used by -r, -u, -U and by -p/-P after a failed initialisation.
// Uninitialising takes what the parameter part of the PPA's applied record
// says it was given, unplumbing the link too: each removes what it undoes.
#include "applied.h"
#include "control.h"
#include "link_journal.h"
#include "llc2_driver.h"
#include "llc2_ops.h"
#include "llc2_report.h"
#include "streams.h"

#include <optional>
#include <unistd.h>

namespace
{

// The two requests of uninitialising: what the driver returned for each.
int send_uninit(int ppa, int fd)
{
    ctl_uninit uninit{};
    uninit.ppa = ppa;
    uninit.msg_type = LLC2_CTL_UNINIT;
    return llc2_request(fd, LLC2_IOC_CONTROL, uninit);
}

int send_disable(int ppa, int fd)
{
    ppa_disable disable{};
    disable.all = 0;
    disable.ppa = ppa;
    return llc2_request(fd, LLC2_IOC_DISABLE, disable);
}

} // namespace

int llc2_uninit_ppa(int ppa, int fd)
{
    // The driver's answers tell us nothing we could act on: a PPA that was
    // never initialised refuses the control message, yet must still be
    // disabled, so both go out and neither result is looked at.
    (void)send_uninit(ppa, fd);
    (void)send_disable(ppa, fd);
    (void)forget_params(ppa);
    return 0;
}

int uninit_for_reinit(int ppa, int fd)
{
    if (send_uninit(ppa, fd) < 0) {
        report_errno("Error uninitializing PPA %d: %s\n", ppa);
        return -1;
    }
    if (send_disable(ppa, fd) < 0) {
        report_errno("Error disabling PPA %d: %s\n", ppa);
        return -1;
    }
    return 0;
}

int llc2_unplumb_ppa(int ppa, int fd)
{
    // Ask the driver for the link rather than trusting anything remembered
    // from plumbing: it may have been plumbed by another run.
    const std::optional<int> link_id = ask_link(fd, ppa);
    if (!link_id) {
        report_errno("Error getting info from PPA %d: %s\n", ppa);
        return -1;
    }
    if (llc2_unlink(fd, *link_id) < 0) {
        // Still linked: the link part of the record still says so.
        report_errno("Error unplumbing PPA %d: %s\n", ppa);
        return -1;
    }
    (void)forget_record(ppa);
    // A run killed after SETPPA leaves the entry of a link that was bound.
    unjournal_link(*link_id);
    return 0;
}

int llc2_take_down_ppa(int ppa, int fd, bool initialised)
{
    if (!initialised) {
        (void)llc2_uninit_ppa(ppa, fd);
    } else {
        const bool refused = uninit_for_reinit(ppa, fd) == -1;
        // Whatever the driver made of it, its values are no longer known.
        (void)forget_params(ppa);
        if (refused)
            return -1;
    }
    // Give the driver time to wind the PPA's connections down before its
    // lower stream goes away; one that stopped answering gets no pause.
    if (driver_answering())
        sleep(1);
    return llc2_unplumb_ppa(ppa, fd);
}
