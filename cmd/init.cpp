// SPDX-License-Identifier: Apache-2.0
// Initialising one plumbed PPA: enable it, then hand it the ten parameters
// of its configuration file.
#include "applied.h"
#include "control.h"
#include "init_params.h"
#include "llc2_conf.h"
#include "llc2_driver.h"
#include "llc2_ops.h"
#include "llc2_report.h"
#include "write_ahead.h"

#include <cerrno>
#include <cstdio>
#include <libintl.h>
#include <unistd.h>

namespace
{

// A PPA that was plumbed a moment ago may not be ready for ENABLE yet: ask
// this many times in all, one second apart.
constexpr int ENABLE_ATTEMPTS = 5;

} // namespace

int llc2_init_ppa(int ppa, int fd, prepared_record *rec, bool *all_recorded)
{
    FILE *fp = open_conf(ppa);
    if (fp == nullptr) {
        std::fprintf(stderr, gettext("Cannot open configuration files for PPA %d\n"), ppa);
        return -1;
    }
    conf_values conf;
    if (read_conf_and_close(fp, conf) == -1) {
        std::fprintf(stderr, gettext("Error reading parameters for PPA %d\n"), ppa);
        return -1;
    }
    // -i: the PPA may be up with values recorded as confirmed; they are
    // not once ENABLE goes.
    prepared_record own;
    if (rec == nullptr) {
        if (write_ahead(ppa, ppa_change::init, &conf, own, nullptr) == ahead::refused)
            return -1;
        rec = &own;
    }

    ppa_enable enable{};
    enable.all = LLC2_ENABLE_ALL;
    enable.ppa = ppa;
    for (int attempt = 1; llc2_request(fd, LLC2_IOC_ENABLE, enable) < 0; ++attempt) {
        // Refused, it may be ready in a moment; unanswered, it will not be.
        if (attempt == ENABLE_ATTEMPTS || errno == ETIME) {
            report_errno("Timeout initializing PPA %d: %s\n", ppa);
            return -1;
        }
        sleep(1);
    }

    const ctl_init sent = make_ctl_init(ppa, conf.params.data());
    // The driver writes its answer over the payload; what was sent is kept.
    ctl_init init = sent;
    if (llc2_request(fd, LLC2_IOC_CONTROL, init) < 0) {
        // The PPA stays enabled: the caller decides whether to take it down.
        std::fprintf(stderr, gettext("Error initialization PPA %d\n"), ppa);
        return -1;
    }
    const bool params_recorded = confirm_params(ppa, fd, sent, rec) == 0;
    if (all_recorded != nullptr)
        *all_recorded = *all_recorded && params_recorded;
    return 0;
}
