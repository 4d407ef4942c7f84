// Taking one PPA down: the two requests of uninitialising and the two of
// unplumbing. Used by -r, -u, -U and by -p/-P after a failed initialisation.
// Either leaves the driver without what the PPA's applied record says it
// was given, so both remove the record.
#include "applied.h"
#include "control.h"
#include "llc2_driver.h"
#include "llc2_ops.h"
#include "llc2_report.h"
#include "streams.h"

#include <unistd.h>

int llc2_uninit_ppa(int ppa, int fd)
{
    // The driver's answers tell us nothing we could act on: a PPA that was
    // never initialised refuses the control message, yet must still be
    // disabled, so both go out and neither result is looked at.
    ctl_uninit uninit{};
    uninit.ppa = ppa;
    uninit.msg_type = LLC2_CTL_UNINIT;
    (void)llc2_request(fd, LLC2_IOC_CONTROL, uninit);

    ppa_disable disable{};
    disable.all = 0;
    disable.ppa = ppa;
    (void)llc2_request(fd, LLC2_IOC_DISABLE, disable);
    (void)remove_applied(ppa);
    return 0;
}

int llc2_unplumb_ppa(int ppa, int fd)
{
    // Ask the driver for the link rather than trusting anything remembered
    // from plumbing: it may have been plumbed by another run.
    ppa_link link{};
    link.ppa = ppa;
    link.cmd = LLC2_LINK_CMD;
    int result = 0;
    if (llc2_request(fd, LLC2_IOC_GETLINK, link) < 0) {
        report_errno("Error getting info from PPA %d: %s\n", ppa);
        result = -1;
    } else if (stream_unlink(fd, link.link_id) < 0) {
        report_errno("Error unplumbing PPA %d: %s\n", ppa);
        result = -1;
    }
    (void)remove_applied(ppa);
    return result;
}

int llc2_take_down_ppa(int ppa, int fd)
{
    (void)llc2_uninit_ppa(ppa, fd);
    // Give the driver time to wind the PPA's connections down before its
    // lower stream goes away.
    sleep(1);
    return llc2_unplumb_ppa(ppa, fd);
}
