// llc2 --apply: the start that converges. What the configuration switches on
// and the driver lacks is plumbed and initialised, what the driver holds but
// is not up is initialised, what is up with other values than were applied
// is initialised again (on a new link when the link changed), and, with
// --prune, what the driver holds and the configuration does not switch on is
// taken down. Everything else is left as it is.
#include "applied.h"
#include "control.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "output.h"
#include "scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <map>
#include <vector>

namespace
{

// What is to be done to one PPA, in the order it is done.
enum class step {
    take_down, // --prune: uninitialise, pause, unplumb
    replumb,   // take down, then plumb and initialise on the file's link
    plumb,     // plumb and initialise
    reinit,    // up: uninitialise and initialise on the link it has
    init,      // held, not up: initialise
};

struct job {
    step what;
    std::vector<const char *> keywords; // pending's, for the dry run's line
    // The link the PPA has, for its record: a valid record's, or else the
    // file's; for what this run plumbs, the one it plumbed.
    plumbed_link link{};
};

// The work the first probe found, by PPA.
struct apply_plan {
    std::map<int, job> jobs;
    std::vector<int> forget; // stale records
    bool skipped = false;    // a file could not be used, or a PPA not told
};

bool names_link(const std::vector<const char *> &keywords)
{
    return std::any_of(keywords.begin(), keywords.end(), [](const char *k) {
        return std::strcmp(k, DEV_NAME) == 0 || std::strcmp(k, DEV_INSTANCE) == 0;
    });
}

void judge(const ppa_facts &f, bool prune, apply_plan &plan)
{
    if (f.applied_stale)
        plan.forget.push_back(f.ppa);
    if (f.has_file && !f.conf_read) {
        std::fprintf(stderr, gettext("PPA %d: %s; left as it is\n"), f.ppa,
                     shown_name(f.conf_error).c_str());
        plan.skipped = true;
    } else if (untold(f)) {
        // Plumbing a PPA the driver may hold would link a second stream
        // beneath it; taking one down is never a side effect.
        if (f.has_file) {
            std::fprintf(stderr,
                         gettext("PPA %d: cannot tell whether the driver holds it (%s); left as "
                                 "it is\n"),
                         f.ppa, f.untold.c_str());
            plan.skipped = true;
        }
    } else if (!switched_on(f)) {
        if (!f.held)
            return;
        if (prune)
            plan.jobs[f.ppa] = {step::take_down, {}};
        else if (f.has_file)
            std::fprintf(stderr, gettext("PPA %d: plumbed but switched off; left as it is\n"),
                         f.ppa);
        else
            std::fprintf(stderr, gettext("PPA %d: plumbed but not configured; left as it is\n"),
                         f.ppa);
    } else if (!f.held) {
        plan.jobs[f.ppa] = {step::plumb, {}, {}};
    } else {
        const std::vector<const char *> keywords = pending(f).value_or(std::vector<const char *>{});
        const plumbed_link link =
            f.applied_known
                ? plumbed_link{f.applied.devicename, f.applied.instance, f.applied.link_id}
                : plumbed_link{f.conf.devicename.data(), f.conf.instance, -1};
        if (names_link(keywords))
            plan.jobs[f.ppa] = {step::replumb, keywords, {}};
        else if (!is_up(f))
            plan.jobs[f.ppa] = {step::init, {}, link};
        else if (!keywords.empty())
            plan.jobs[f.ppa] = {step::reinit, keywords, link};
    }
}

// The dry run's line for a job.
void say_would(int ppa, const job &j)
{
    static constexpr std::array<const char *, 5> words{"take down", "re-plumb and initialise",
                                                       "plumb and initialise", "re-initialise",
                                                       "initialise"};
    std::printf("PPA %d: would %s", ppa, words.at(static_cast<std::size_t>(j.what)));
    if (!j.keywords.empty())
        std::printf(" (%s)", keyword_list(j.keywords).c_str());
    std::printf("\n");
}

// Plumbs a PPA as -P's first pass does; true when it plumbed, with the link.
bool plumb(int ppa, int fd, plumbed_link &link)
{
    FILE *fp = open_conf(ppa);
    // The file was read a moment ago; it may have changed since.
    const plumb_outcome outcome =
        fp != nullptr ? plumb_ppa(fp, ppa, fd, &link) : plumb_outcome::failed;
    if (outcome == plumb_outcome::failed)
        std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), ppa);
    return outcome == plumb_outcome::plumbed;
}

// What this run initialised, for its record once the final probe has told
// how the driver sees the PPA now.
struct initialised {
    ctl_init sent{};
    plumbed_link link{};
};

// The last word: every PPA acted on that is not up now is named; each one
// initialised that is up gets its record.
bool all_up(int fd, const std::vector<int> &wanted, const std::map<int, initialised> &done)
{
    scan_plan plan;
    plan.dlpi = false;
    plan.lookup = conf_lookup::none;
    plan.only = &wanted;
    bool all = true;
    scan_ppas(fd, plan, [&all, &done](const ppa_facts &f) {
        if (is_up(f)) {
            if (const auto it = done.find(f.ppa); it != done.end()) {
                const plumbed_link &l = it->second.link;
                (void)write_applied(f.ppa, make_applied(l.devicename.c_str(), l.instance,
                                                        it->second.sent, f.record, l.link_id));
            }
            return;
        }
        if (untold(f))
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), f.ppa,
                         f.untold.c_str());
        else
            std::fprintf(stderr, gettext("PPA %d: not up\n"), f.ppa);
        all = false;
    });
    return all;
}

// The line's words for a job done: "PPA 3: plumbed and initialised".
const char *done_words(step what)
{
    static constexpr std::array<const char *, 5> words{"taken down", "re-plumbed and initialised",
                                                       "plumbed and initialised", "re-initialised",
                                                       "initialised"};
    return words.at(static_cast<std::size_t>(what));
}

} // namespace

int llc2_apply(const apply_options &options)
{
    control_stream ctl;
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured))
        return -1;
    const std::vector<int> only = distinct_ppas(options.ppas);
    // Records of PPAs neither configured nor held are looked at too, so
    // that a stale one goes.
    const std::vector<int> recorded = applied_ppas();
    scan_plan first = quiet_plan(configured, false);
    first.also = &recorded;
    first.only = options.ppas.empty() ? nullptr : &only;
    apply_plan work;
    const bool answering = scan_ppas(
        ctl.fd, first, [&work, &options](const ppa_facts &f) { judge(f, options.prune, work); });
    if (options.dry_run) {
        for (const auto &[ppa, j] : work.jobs)
            say_would(ppa, j);
        return work.skipped ? -1 : 0;
    }
    for (const int ppa : work.forget)
        (void)remove_applied(ppa);
    if (work.jobs.empty())
        return work.skipped ? -1 : 0;

    // Taken down, then plumbed on one control stream; initialised on
    // another, as -P does.
    bool failed = false;
    std::vector<int> to_init;
    for (auto &[ppa, j] : work.jobs) {
        const bool down_first = j.what == step::take_down || j.what == step::replumb;
        if (down_first && llc2_take_down_ppa(ppa, ctl.fd) == -1) {
            failed = true;
            continue;
        }
        const bool plumbs = j.what == step::replumb || j.what == step::plumb;
        if (j.what == step::take_down) {
            std::printf("PPA %d: %s\n", ppa, done_words(j.what));
            order_output();
        } else if (!plumbs || plumb(ppa, ctl.fd, j.link)) {
            to_init.push_back(ppa);
        } else {
            failed = true;
        }
    }
    ctl.close();
    ctl.fd = llc2_open_control();
    if (ctl.fd < 0)
        return -1;
    std::map<int, initialised> done;
    for (const int ppa : to_init) {
        const step what = work.jobs.at(ppa).what;
        const bool fresh = what == step::plumb || what == step::replumb;
        if (what == step::reinit)
            (void)llc2_uninit_ppa(ppa, ctl.fd);
        initialised now;
        // What this run plumbed is of no use half up: unplumbed again.
        if (init_plumbed_ppa(ppa, ctl.fd, fresh, &now.sent) == -1)
            continue;
        now.link = work.jobs.at(ppa).link;
        done[ppa] = now;
        std::printf("PPA %d: %s\n", ppa, done_words(what));
        order_output();
    }

    std::vector<int> acted;
    for (const auto &[ppa, j] : work.jobs)
        if (j.what != step::take_down)
            acted.push_back(ppa);
    // A driver that left a probe unanswered is not asked again: the run's
    // work cannot be seen to have taken.
    if (!answering) {
        for (const int ppa : acted)
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), ppa,
                         unanswered_reason());
        return -1;
    }
    const bool converged = all_up(ctl.fd, acted, done);
    return converged && !work.skipped && !failed ? 0 : -1;
}
