// llc2 --apply: the start that converges. What the configuration switches on
// and the driver lacks is plumbed and initialised, what the driver holds
// but is not up is initialised, and everything else is left as it is.
#include "control.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "output.h"
#include "scan.h"

#include <algorithm>
#include <cstdio>
#include <libintl.h>
#include <string_view>
#include <vector>

namespace
{

bool up(const ppa_facts &f)
{
    return f.held && std::string_view(state_word(f.record.state)) == "up";
}

// The work the first probe found.
struct apply_plan {
    std::vector<int> plumb; // switched on, not held
    std::vector<int> init;  // switched on, held, not up
    bool skipped = false;   // a file could not be used
};

void judge(const ppa_facts &f, apply_plan &plan)
{
    if (f.configured && !f.conf_read) {
        std::fprintf(stderr, gettext("PPA %d: %s; left as it is\n"), f.ppa,
                     shown_name(f.conf_error).c_str());
        plan.skipped = true;
    } else if (untold(f)) {
        // Plumbing a PPA the driver may hold would link a second stream
        // beneath it; taking one down is never a side effect.
        if (f.configured) {
            std::fprintf(stderr,
                         gettext("PPA %d: cannot tell whether the driver holds it (%s); left as "
                                 "it is\n"),
                         f.ppa, f.untold.c_str());
            plan.skipped = true;
        }
    } else if (!switched_on(f)) {
        // Taking a PPA down is for -u and -U, never a side effect.
        if (f.held && f.configured)
            std::fprintf(stderr, gettext("PPA %d: plumbed but switched off; left as it is\n"),
                         f.ppa);
        else if (f.held)
            std::fprintf(stderr, gettext("PPA %d: plumbed but not configured; left as it is\n"),
                         f.ppa);
    } else if (!f.held) {
        plan.plumb.push_back(f.ppa);
    } else if (!up(f)) {
        plan.init.push_back(f.ppa);
    }
}

// Plumbs each PPA as -P's first pass does; the ones that plumbed.
std::vector<int> plumb(const std::vector<int> &ppas, int fd)
{
    std::vector<int> plumbed;
    for (const int ppa : ppas) {
        FILE *fp = open_conf(ppa);
        // The file was read a moment ago; it may have changed since.
        const plumb_outcome outcome =
            fp != nullptr ? plumb_ppa(fp, ppa, fd) : plumb_outcome::failed;
        if (outcome == plumb_outcome::plumbed)
            plumbed.push_back(ppa);
        else if (outcome == plumb_outcome::failed)
            std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), ppa);
    }
    return plumbed;
}

// The last word: every switched-on PPA that is not up now is named.
bool all_up(int fd, const std::vector<int> &wanted)
{
    scan_plan plan;
    plan.dlpi = false;
    plan.lookup = conf_lookup::quiet; // no file is looked at
    plan.only = &wanted;
    bool all = true;
    scan_ppas(fd, plan, [&all](const ppa_facts &f) {
        if (up(f))
            return;
        if (untold(f))
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), f.ppa,
                         f.untold.c_str());
        else
            std::fprintf(stderr, gettext("PPA %d: not up\n"), f.ppa);
        all = false;
    });
    return all;
}

} // namespace

int llc2_apply(void)
{
    control_stream ctl;
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured))
        return -1;
    apply_plan work;
    const bool answering = scan_ppas(ctl.fd, quiet_plan(configured, false),
                                     [&work](const ppa_facts &f) { judge(f, work); });
    if (work.plumb.empty() && work.init.empty())
        return work.skipped ? -1 : 0;

    // Plumbed on one control stream, initialised on another, as -P does.
    const std::vector<int> plumbed = plumb(work.plumb, ctl.fd);
    ctl.close();
    ctl.fd = llc2_open_control();
    if (ctl.fd < 0)
        return -1;
    std::vector<int> init = work.init;
    init.insert(init.end(), plumbed.begin(), plumbed.end());
    std::sort(init.begin(), init.end());
    for (const int ppa : init) {
        const bool fresh = std::binary_search(plumbed.begin(), plumbed.end(), ppa);
        if (init_plumbed_ppa(ppa, ctl.fd, fresh) == -1)
            continue;
        std::printf(fresh ? "PPA %d: plumbed and initialised\n" : "PPA %d: initialised\n", ppa);
        order_output();
    }

    std::vector<int> wanted = work.plumb;
    wanted.insert(wanted.end(), work.init.begin(), work.init.end());
    std::sort(wanted.begin(), wanted.end());
    // A driver that left a probe unanswered is not asked again: the run's
    // work cannot be seen to have taken.
    if (!answering) {
        for (const int ppa : wanted)
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), ppa,
                         unanswered_reason());
        return -1;
    }
    const bool converged = all_up(ctl.fd, wanted);
    return converged && !work.skipped ? 0 : -1;
}
