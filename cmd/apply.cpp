// SPDX-License-Identifier: Apache-2.0
// llc2 --apply: the start that converges. What the configuration switches on
// and the driver lacks is plumbed and initialised, what the driver holds but
// is not up is initialised, what is up with other values than were applied
// is initialised again (on a new link when the link changed), and, with
// --prune, what the driver holds and the configuration does not switch on is
// taken down. Everything else is left as it is.
#include "applied.h"
#include "control.h"
#include "json.h"
#include "link_journal.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "output.h"
#include "scan.h"
#include "status_words.h"
#include "streams.h"
#include "write_ahead.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <map>
#include <set>
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
    bool up = false;                    // up when probed: initialised, so UNINIT must take
    conf_values conf{};                 // the file as the probe read it (not for take_down)
};

// What the run tells a program: with --json one document at the end instead
// of the lines on standard output; standard error says the same as ever.
struct apply_report {
    bool json = false;
    bool dry_run = false;
    std::string actions;       // the array's items, comma-separated
    std::string failed;        // the same
    std::vector<int> unlinked; // links an interrupted run left, unlinked now
    std::string unasked = "null";
    std::set<int> failed_ppas; // one item a PPA: the first failure, the step's
};

void add_item(std::string &items, const std::string &item)
{
    items += (items.empty() ? "" : ",") + item;
}

// A PPA that is not as it should be after the run: reason in the words of
// the line that said so, or for a step whose message came from the step
// itself, the step's. ppa -1 for a failure that is no PPA's (null). A PPA
// already named keeps its first reason: "not up" after "cannot initialise"
// says nothing new.
void failure(apply_report &r, int ppa, std::string_view reason)
{
    if (ppa >= 0 && !r.failed_ppas.insert(ppa).second)
        return;
    json_object o;
    if (ppa >= 0)
        json_num(o, "ppa", ppa);
    else
        json_null(o, "ppa");
    json_str(o, "reason", reason);
    add_item(r.failed, json_end(o));
}

// The work the first probe found, by PPA.
struct apply_plan {
    std::map<int, job> jobs;
    std::vector<int> forget; // records of PPAs the driver does not hold
    bool skipped = false;    // a file could not be used, or a PPA not told
};

bool names_link(const std::vector<const char *> &keywords)
{
    return std::any_of(keywords.begin(), keywords.end(), [](const char *k) {
        return std::strcmp(k, DEV_NAME) == 0 || std::strcmp(k, DEV_INSTANCE) == 0;
    });
}

void judge(const ppa_facts &f, bool prune, apply_plan &plan, apply_report &r)
{
    if (f.recorded && !f.held && !untold(f))
        plan.forget.push_back(f.ppa);
    if (f.has_file && !f.conf_read) {
        const std::string name = shown_name(f.conf_error);
        std::fprintf(stderr, gettext("PPA %d: %s; left as it is\n"), f.ppa, name.c_str());
        failure(r, f.ppa, name + "; left as it is");
        plan.skipped = true;
    } else if (untold(f)) {
        // Plumbing a PPA the driver may hold would link a second stream
        // beneath it; taking one down is never a side effect.
        if (f.held && (f.has_file || prune)) {
            std::fprintf(stderr, gettext("PPA %d: cannot tell (%s); left as it is\n"), f.ppa,
                         f.untold_why.c_str());
            failure(r, f.ppa, "cannot tell (" + f.untold_why + "); left as it is");
            plan.skipped = true;
        } else if (f.has_file || prune) {
            std::fprintf(stderr,
                         gettext("PPA %d: cannot tell whether the driver holds it (%s); left as "
                                 "it is\n"),
                         f.ppa, f.untold_why.c_str());
            failure(r, f.ppa,
                    "cannot tell whether the driver holds it (" + f.untold_why +
                        "); left as it is");
            plan.skipped = true;
        }
    } else if (!switched_on(f)) {
        if (!f.held)
            return;
        if (prune)
            plan.jobs[f.ppa] = {step::take_down, {}, is_up(f)};
        else if (f.has_file)
            std::fprintf(stderr, gettext("PPA %d: plumbed but switched off; left as it is\n"),
                         f.ppa);
        else
            std::fprintf(stderr, gettext("PPA %d: plumbed but not configured; left as it is\n"),
                         f.ppa);
    } else if (!f.held) {
        plan.jobs[f.ppa] = {step::plumb, {}};
    } else {
        // A link no record proves is plumbed again, parameters no record
        // proves are sent again: what the driver has is never guessed.
        const std::vector<const char *> keywords = pending(f).value();
        if (!f.link || names_link(keywords))
            plan.jobs[f.ppa] = {step::replumb, keywords, is_up(f), f.conf};
        else if (!is_up(f))
            plan.jobs[f.ppa] = {step::init, {}, false, f.conf};
        else if (!keywords.empty())
            plan.jobs[f.ppa] = {step::reinit, keywords, true, f.conf};
    }
}

// A job done, or one a dry run would do: "PPA 3: plumbed and initialised",
// "PPA 2: would re-initialise (acktimer)"; with --json an item of actions,
// the same words and the pending keywords whether or not it is a dry run.
void say_acted(apply_report &r, int ppa, const job &j)
{
    const auto at = static_cast<std::size_t>(j.what);
    const std::string words =
        r.dry_run ? "would " + std::string(APPLY_WOULD.at(at)) : std::string(APPLY_DONE.at(at));
    if (r.json) {
        json_object o;
        json_num(o, "ppa", ppa);
        json_str(o, "action", words);
        json_raw(o, "keywords", json_string_array(j.keywords));
        add_item(r.actions, json_end(o));
        return;
    }
    std::printf("PPA %d: %s", ppa, words.c_str());
    if (r.dry_run && !j.keywords.empty())
        std::printf(" (%s)", keyword_list(j.keywords).c_str());
    std::printf("\n");
    order_output();
}

// A device to re-plumb on that does not open: the PPA keeps its old link.
void cannot_open(apply_report &r, int ppa, const conf_values &conf, int err)
{
    const std::string device = "/dev/" + shown_name(conf.devicename.data());
    std::fprintf(stderr, gettext("PPA %d: cannot open %s: %s; left as it is\n"), ppa,
                 device.c_str(), std::strerror(err));
    failure(r, ppa, "cannot open " + device + ": " + std::strerror(err) + "; left as it is");
}

// What the real run would find before it changes a PPA the driver holds, as
// far as looking can tell: a run-state directory that takes no record, a
// directory where the PPA's record goes, a device to re-plumb on that is
// not there. Each such job is dropped, named as the real run names it;
// false then.
bool foresee(apply_plan &work, apply_report &r)
{
    const int dir_err = records_writable();
    bool all = true;
    for (auto j = work.jobs.begin(); j != work.jobs.end();) {
        const int err = j->second.what == step::plumb ? 0
                        : dir_err != 0                ? dir_err
                                                      : record_replaceable(j->first);
        const int dev_err = j->second.what == step::replumb ? device_there(j->second.conf) : 0;
        if (err == 0 && dev_err == 0) {
            ++j;
            continue;
        }
        if (err != 0) {
            std::fprintf(stderr, gettext("Cannot record PPA %d: %s; left as it is\n"), j->first,
                         std::strerror(err));
            failure(r, j->first,
                    std::string("cannot record: ") + std::strerror(err) + "; left as it is");
        } else {
            cannot_open(r, j->first, j->second.conf, dev_err);
        }
        j = work.jobs.erase(j);
        all = false;
    }
    return all;
}

// Initialises a PPA the first pass left for it, as its job says, completing
// the parameter part written ahead in rec. false when a step failed (after
// its message); recorded is cleared when the record could not be
// completed.
bool initialise(int ppa, int fd, const job &j, prepared_record &rec, bool &recorded)
{
    const bool fresh = j.what == step::plumb || j.what == step::replumb;
    if (j.what == step::reinit && uninit_for_reinit(ppa, fd) == -1)
        return false;
    // What this run plumbed is of no use half up: unplumbed again.
    return init_plumbed_ppa(ppa, fd, fresh, &rec, &recorded) == 0;
}

// How the first pass left a job.
enum class pass {
    to_init,  // plumbed, or written ahead for initialising: the second pass goes on
    done,     // taken down
    off,      // the file switches it off now: nothing done
    left,     // failed on the way; why says so in a program's words
    untouched // nothing was sent for it: left as it was; why says so
};

// The first pass of one job, on the plumbing stream: the change written
// ahead (write_ahead), then what it takes down and plumbs. A re-plumb opens
// the new device before the old link goes, and goes no further when it
// cannot. recorded is cleared when a record could not be written.
pass first_pass(int ppa, const job &j, int fd, prepared_record &rec, bool &recorded,
                std::string &why, apply_report &r)
{
    switch (j.what) {
    case step::plumb: {
        // The file was read a moment ago; it may have changed since.
        FILE *fp = open_conf(ppa);
        const plumb_outcome outcome =
            fp != nullptr ? plumb_ppa(fp, ppa, fd, &rec, &recorded) : plumb_outcome::failed;
        if (outcome == plumb_outcome::plumbed)
            return pass::to_init;
        if (outcome == plumb_outcome::failed)
            std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), ppa);
        why = "cannot plumb";
        return outcome == plumb_outcome::failed ? pass::left : pass::off;
    }
    case step::take_down:
        if (write_ahead(ppa, ppa_change::take_down, nullptr, rec, &why) == ahead::refused)
            return pass::untouched;
        why = "cannot take down";
        return llc2_take_down_ppa(ppa, fd, j.up) == 0 ? pass::done : pass::left;
    case step::replumb: {
        const int lower = open_device(j.conf);
        if (lower < 0) {
            cannot_open(r, ppa, j.conf, errno);
            return pass::untouched;
        }
        if (write_ahead(ppa, ppa_change::replumb, &j.conf, rec, &why) == ahead::refused) {
            stream_close(lower);
            return pass::untouched;
        }
        if (llc2_take_down_ppa(ppa, fd, j.up) == -1) {
            stream_close(lower);
            why = "cannot take down";
            return pass::left;
        }
        if (link_device(lower, j.conf, ppa, fd, &rec, &recorded) == plumb_outcome::plumbed)
            return pass::to_init;
        std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), ppa);
        why = "cannot plumb";
        return pass::left;
    }
    case step::init:
    case step::reinit:
        return write_ahead(ppa, ppa_change::init, &j.conf, rec, &why) == ahead::refused
                   ? pass::untouched
                   : pass::to_init;
    }
    return pass::left;
}

// The last word: every PPA acted on that is not up now is named.
bool all_up(int fd, const std::vector<int> &wanted, apply_report &r)
{
    scan_plan plan;
    plan.dlpi = false;
    plan.lookup = conf_lookup::none;
    plan.only = &wanted;
    bool all = true;
    scan_ppas(fd, plan, [&all, &r](const ppa_facts &f) {
        if (is_up(f))
            return;
        if (untold(f)) {
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), f.ppa,
                         f.untold_why.c_str());
            failure(r, f.ppa, "cannot tell whether it is up (" + f.untold_why + ")");
        } else {
            std::fprintf(stderr, gettext("PPA %d: not up\n"), f.ppa);
            failure(r, f.ppa, "not up");
        }
        all = false;
    });
    return all;
}

int apply(const apply_options &options, apply_report &r);

} // namespace

int llc2_apply(const apply_options &options)
{
    apply_report r;
    r.json = options.json;
    r.dry_run = options.dry_run;
    const int result = apply(options, r);
    if (!r.json)
        return result;
    json_object doc;
    json_raw(doc, "actions", "[" + r.actions + "]");
    json_raw(doc, "failed", "[" + r.failed + "]");
    json_raw(doc, "unlinked", json_number_array(r.unlinked));
    json_raw(doc, "unasked", r.unasked);
    std::fputs((json_end(doc) + "\n").c_str(), stdout);
    return result;
}

namespace
{

int apply(const apply_options &options, apply_report &r)
{
    control_stream ctl;
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured)) {
        failure(r, -1, ctl.fd < 0 ? "cannot open the driver" : "cannot read the configuration");
        return -1;
    }
    // Links an interrupted run left go first: the driver is clean before
    // anything is plumbed.
    const bool orphans_left =
        !options.dry_run && unlink_orphans(ctl.fd, r.json ? &r.unlinked : nullptr) == -1;
    if (orphans_left)
        failure(r, -1, "links left by an interrupted run: not unlinked");
    const std::vector<int> only = distinct_ppas(options.ppas);
    // Records of PPAs neither configured nor held are looked at too, so
    // that a stale one goes.
    const std::vector<int> recorded = recorded_ppas();
    scan_plan first = quiet_plan(configured, false);
    first.also = &recorded;
    first.only = options.ppas.empty() ? nullptr : &only;
    apply_plan work;
    const scan_result scanned = scan_ppas(ctl.fd, first, [&work, &options, &r](const ppa_facts &f) {
        judge(f, options.prune, work, r);
    });
    r.unasked = unasked_json(scanned);
    // What the driver was not asked about may be held: --prune cannot be
    // sure it took down everything it should.
    if (options.prune && scanned.unasked_from >= 0) {
        std::fprintf(stderr, gettext("PPAs %d to %d: cannot tell (%s); left as they are\n"),
                     scanned.unasked_from, LLC2_MAX_PPA - 1, unanswered_reason());
        work.skipped = true;
    }
    // A step that failed, or a record that could not be written, fails the
    // run; the next run tries again.
    bool failed = orphans_left;
    if (options.dry_run) {
        failed = !foresee(work, r) || failed;
        for (const auto &[ppa, j] : work.jobs)
            say_acted(r, ppa, j);
        return work.skipped || failed ? -1 : 0;
    }
    for (const int ppa : work.forget)
        (void)forget_record(ppa);
    if (work.jobs.empty())
        return work.skipped || failed ? -1 : 0;

    // Taken down, then plumbed on one control stream; initialised on
    // another, as -P does. Once the driver stops answering, nothing more is
    // sent to it: what is left is named and not done.
    const auto not_done = [&failed, &r](int ppa) {
        std::fprintf(stderr, gettext("PPA %d: not done, the driver does not answer\n"), ppa);
        failure(r, ppa, "not done, the driver does not answer");
        failed = true;
    };
    // A step whose own message said why: the step's words for a program.
    const auto step_failed = [&failed, &r](int ppa, std::string_view words) {
        failure(r, ppa, words);
        failed = true;
    };
    std::map<int, prepared_record> records;
    std::vector<int> to_init;
    std::set<int> untouched; // left as they were: not looked at again
    for (auto &[ppa, j] : work.jobs) {
        if (!driver_answering()) {
            not_done(ppa);
            continue;
        }
        bool recorded = true;
        std::string why;
        switch (first_pass(ppa, j, ctl.fd, records[ppa], recorded, why, r)) {
        case pass::to_init:
            to_init.push_back(ppa);
            break;
        case pass::done:
            say_acted(r, ppa, j);
            break;
        case pass::off:
            break;
        case pass::untouched:
            untouched.insert(ppa);
            [[fallthrough]];
        case pass::left:
            step_failed(ppa, why);
            break;
        }
        if (!recorded)
            step_failed(ppa, "not recorded");
    }
    ctl.close();
    if (driver_answering()) {
        ctl.fd = llc2_open_control();
        if (ctl.fd < 0) {
            // Plumbed, or taken out of service, and not initialised: named,
            // for the next run to finish.
            const std::string reason = std::strerror(errno);
            for (const int ppa : to_init) {
                std::fprintf(stderr, gettext("PPA %d: not initialised (%s)\n"), ppa,
                             reason.c_str());
                failure(r, ppa, "not initialised (" + reason + ")");
            }
            return -1;
        }
    }
    std::vector<int> done;
    for (const int ppa : to_init) {
        const job &j = work.jobs.at(ppa);
        bool recorded = true;
        if (!driver_answering()) {
            not_done(ppa);
        } else if (initialise(ppa, ctl.fd, j, records[ppa], recorded)) {
            say_acted(r, ppa, j);
            done.push_back(ppa);
        } else {
            step_failed(ppa, "cannot initialise");
        }
        if (!recorded)
            step_failed(ppa, "not recorded");
    }

    std::vector<int> acted;
    for (const auto &[ppa, j] : work.jobs)
        if (j.what != step::take_down && !untouched.contains(ppa))
            acted.push_back(ppa);
    // A driver that stopped answering is not asked again: the run's work
    // cannot be seen to have taken.
    if (!driver_answering()) {
        for (const int ppa : done) {
            std::fprintf(stderr, gettext("PPA %d: cannot tell whether it is up (%s)\n"), ppa,
                         unanswered_reason());
            failure(r, ppa,
                    std::string("cannot tell whether it is up (") + unanswered_reason() + ")");
        }
        return -1;
    }
    const bool converged = all_up(ctl.fd, acted, r);
    return converged && !work.skipped && !failed ? 0 : -1;
}

} // namespace
