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
#include "llc2_report.h"
#include "output.h"
#include "run_lock.h"
#include "scan.h"
#include "status_words.h"
#include "streams.h"
#include "write_ahead.h"

#include <algorithm>
#include <climits>
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
    std::string failures;      // the same, for "failed"
    std::vector<int> unlinked; // links an interrupted run left, unlinked now
    std::string unasked = "null";
    std::set<int> named; // the PPAs in failures: one item a PPA, the first
};

void add_item(std::string &items, const std::string &item)
{
    items += (items.empty() ? "" : ",") + item;
}

// One fact --apply tells: its line on standard error, in the catalogue's
// words, and for a program the same fact as an English reason. Each "%s"
// and "%d" of both forms is filled in order, the line's first "%d" with the
// PPA.
struct apply_fact {
    const char *line;        // null: the step said it itself
    std::string_view reason; // null: no failure (a JSON reason of none)
};

constexpr apply_fact UNUSABLE{N_("PPA %d: %s; left as it is\n"), "%s; left as it is"};
constexpr apply_fact UNTOLD_HELD{N_("PPA %d: cannot tell (%s); left as it is\n"),
                                 "cannot tell (%s); left as it is"};
constexpr apply_fact UNTOLD{
    N_("PPA %d: cannot tell whether the driver holds it (%s); left as it is\n"),
    "cannot tell whether the driver holds it (%s); left as it is"};
constexpr apply_fact HELD_OFF{N_("PPA %d: plumbed but switched off; left as it is\n"), {}};
constexpr apply_fact HELD_NO_FILE{N_("PPA %d: plumbed but not configured; left as it is\n"), {}};
constexpr apply_fact CANNOT_OPEN{N_("PPA %d: cannot open %s: %s; left as it is\n"),
                                 "cannot open %s: %s; left as it is"};
constexpr apply_fact CANNOT_RECORD{N_("Cannot record PPA %d: %s; left as it is\n"),
                                   "cannot record: %s; left as it is"};
constexpr apply_fact NO_LOCK{N_("PPA %d: not changed without the run lock; left as it is\n"),
                             "not changed without the run lock; left as it is"};
constexpr apply_fact NOT_DONE{N_("PPA %d: not done, the driver does not answer\n"),
                              "not done, the driver does not answer"};
constexpr apply_fact NOT_INITIALISED{N_("PPA %d: not initialised (%s)\n"), "not initialised (%s)"};
constexpr apply_fact UP_UNTOLD{N_("PPA %d: cannot tell whether it is up (%s)\n"),
                               "cannot tell whether it is up (%s)"};
constexpr apply_fact NOT_UP{N_("PPA %d: not up\n"), "not up"};
// A step whose own message said why: the step's words for a program.
constexpr apply_fact STEP{nullptr, "%s"};

// Says fact of ppa (-1: of no PPA, null in JSON) with args. A failure goes
// into the JSON document once a PPA: "not up" after "cannot initialise"
// says nothing new.
void say(apply_report &r, int ppa, const apply_fact &fact,
         std::initializer_list<std::string_view> args = {})
{
    if (fact.line != nullptr) {
        std::vector<std::string_view> all{};
        const std::string number = std::to_string(ppa);
        all.emplace_back(number);
        all.insert(all.end(), args.begin(), args.end());
        std::fputs(fill_from(gettext(fact.line), all).c_str(), stderr);
    }
    if (fact.reason.data() == nullptr || (ppa >= 0 && !r.named.insert(ppa).second))
        return;
    json_object o;
    if (ppa >= 0)
        json_num(o, "ppa", ppa);
    else
        json_null(o, "ppa");
    json_str(o, "reason", fill_from(fact.reason, args));
    add_item(r.failures, json_end(o));
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
    if (f.has_record && !f.held && !untold(f))
        plan.forget.push_back(f.ppa);
    if (f.has_file && !f.conf_read) {
        say(r, f.ppa, UNUSABLE, {shown_name(f.conf_error)});
        plan.skipped = true;
    } else if (untold(f)) {
        // Plumbing a PPA the driver may hold would link a second stream
        // beneath it; taking one down is never a side effect.
        if (f.has_file || prune) {
            say(r, f.ppa, f.held ? UNTOLD_HELD : UNTOLD, {f.untold_why});
            plan.skipped = true;
        }
    } else if (!switched_on(f)) {
        if (!f.held)
            return;
        if (prune)
            plan.jobs[f.ppa] = {step::take_down, {}, is_up(f)};
        else
            say(r, f.ppa, f.has_file ? HELD_OFF : HELD_NO_FILE);
    } else if (!f.held) {
        plan.jobs[f.ppa] = {step::plumb, {}, false, f.conf};
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

constexpr apply_fact CANNOT_PLUMB{N_("Cannot plumb PPA %d\n"), "cannot plumb"};
// A PPA plumbed all the same: it is not held, and the boot needs it.
constexpr apply_fact UNRECORDED{N_("Cannot record PPA %d: %s\n"), "not recorded"};

// What the real run would find before it changes a PPA, as far as the
// probes and looking can tell: a driver that stopped answering them, a
// device to plumb or re-plumb on that is not there, a run-state directory
// that takes no record, a directory where the PPA's record goes, a lock
// file that is no regular file. Each such job is named as the real run
// names it, and fails is set; the PPAs the real run would not act on.
std::set<int> foresee(const apply_plan &work, apply_report &r, bool &fails)
{
    const int dir_err = records_writable();
    const int lock_err = run_lock_foreseen();
    std::set<int> left;
    for (const auto &[ppa, j] : work.jobs) {
        const bool held = j.what != step::plumb;
        const int err = dir_err != 0 ? dir_err : record_replaceable(ppa);
        const bool opens = j.what == step::replumb || j.what == step::plumb;
        const int dev_err = opens ? device_there(j.conf) : 0;
        // In the real run's order: the driver, the device, the record, the
        // lock.
        if (!driver_answering()) {
            say(r, ppa, NOT_DONE);
        } else if (dev_err != 0 && !held) {
            say(r, ppa, CANNOT_PLUMB);
        } else if (dev_err != 0) {
            say(r, ppa, CANNOT_OPEN,
                {"/dev/" + shown_name(j.conf.devicename.data()), std::strerror(dev_err)});
        } else if (err != 0 && !held) {
            say(r, ppa, UNRECORDED, {std::strerror(err)});
            fails = true;
            continue;
        } else if (err != 0) {
            say(r, ppa, CANNOT_RECORD, {std::strerror(err)});
        } else if (held && lock_err != 0) {
            say(r, ppa, NO_LOCK);
        } else {
            continue;
        }
        fails = true;
        left.insert(ppa);
    }
    return left;
}

// How the run went, job by job.
struct apply_run {
    // What each change will record, written ahead before its first request
    // and completed by the step that learns the last of it.
    std::map<int, prepared_record> records;
    std::vector<int> to_init; // left by the first pass for the second
    std::vector<int> done;    // initialised
    std::set<int> untouched;  // nothing sent for them: left as they were
    // Jobs done whose line waits for those of lower PPAs: the take-downs
    // are done in the first pass and the rest in the second, and they are
    // told by PPA, as a dry run tells them.
    std::map<int, const job *> unsaid;
    bool fails = false; // a step failed, or a record was not written: the run fails
};

// Tells the jobs done below ppa whose line waited, ascending.
void say_done_below(apply_run &run, apply_report &r, int ppa)
{
    auto it = run.unsaid.begin();
    for (; it != run.unsaid.end() && it->first < ppa; ++it)
        say_acted(r, it->first, *it->second);
    run.unsaid.erase(run.unsaid.begin(), it);
}

// A step that failed: said (by the step, or here), and the run fails.
void failed_step(apply_run &run, apply_report &r, int ppa, const apply_fact &fact,
                 std::initializer_list<std::string_view> args = {})
{
    say(r, ppa, fact, args);
    run.fails = true;
}

// The first pass of one job, on the plumbing stream: the change written
// ahead (write_ahead), then what it takes down and plumbs. A re-plumb opens
// the new device before the old link goes, and goes no further when it
// cannot.
void first_pass(int ppa, const job &j, int fd, apply_run &run, apply_report &r)
{
    prepared_record &rec = run.records[ppa];
    bool recorded = true;
    std::string why;
    const auto untouched = [&](const std::string &reason) {
        run.untouched.insert(ppa);
        failed_step(run, r, ppa, STEP, {reason});
    };
    switch (j.what) {
    case step::plumb: {
        // The file was read a moment ago; it may have changed since.
        FILE *fp = open_conf(ppa);
        const plumb_outcome outcome =
            fp != nullptr ? plumb_ppa(fp, ppa, fd, &rec, &recorded) : plumb_outcome::failed;
        if (outcome == plumb_outcome::plumbed)
            run.to_init.push_back(ppa);
        else if (outcome == plumb_outcome::failed)
            failed_step(run, r, ppa, CANNOT_PLUMB);
        break;
    }
    case step::take_down:
        if (write_ahead(ppa, ppa_change::take_down, nullptr, rec, &why) == ahead::refused)
            untouched(why);
        else if (llc2_take_down_ppa(ppa, fd, j.up) == 0)
            run.unsaid.emplace(ppa, &j);
        else
            failed_step(run, r, ppa, STEP, {"cannot take down"});
        break;
    case step::replumb: {
        const int lower = open_device(j.conf);
        if (lower < 0) {
            const int err = errno;
            run.untouched.insert(ppa);
            failed_step(run, r, ppa, CANNOT_OPEN,
                        {"/dev/" + shown_name(j.conf.devicename.data()), std::strerror(err)});
        } else if (write_ahead(ppa, ppa_change::replumb, &j.conf, rec, &why) == ahead::refused) {
            stream_close(lower);
            untouched(why);
        } else if (llc2_take_down_ppa(ppa, fd, j.up) == -1) {
            stream_close(lower);
            failed_step(run, r, ppa, STEP, {"cannot take down"});
        } else if (link_device(lower, j.conf, ppa, fd, &rec, &recorded) == plumb_outcome::plumbed) {
            run.to_init.push_back(ppa);
        } else {
            failed_step(run, r, ppa, CANNOT_PLUMB);
        }
        break;
    }
    case step::init:
    case step::reinit:
        if (write_ahead(ppa, ppa_change::init, &j.conf, rec, &why) == ahead::refused)
            untouched(why);
        else
            run.to_init.push_back(ppa);
        break;
    }
    if (!recorded)
        failed_step(run, r, ppa, STEP, {"not recorded"});
}

// The second pass, on a control stream of its own as -P has it: each PPA
// the first pass left is initialised as its job says, the parameter part
// written ahead completed.
void second_pass(const apply_plan &work, control_stream &ctl, apply_run &run, apply_report &r)
{
    if (!reopen_control(ctl)) {
        // Plumbed, or made ready to initialise, and not initialised: named,
        // for the next run to finish.
        const std::string reason = std::strerror(errno);
        for (const int ppa : run.to_init)
            failed_step(run, r, ppa, NOT_INITIALISED, {reason});
        run.to_init.clear();
        say_done_below(run, r, INT_MAX);
        return;
    }
    for (const int ppa : run.to_init) {
        const job &j = work.jobs.at(ppa);
        bool recorded = true;
        if (!driver_answering()) {
            failed_step(run, r, ppa, NOT_DONE);
        } else if ((j.what == step::reinit && uninit_for_reinit(ppa, ctl.fd) == -1) ||
                   // What this run plumbed is of no use half up: unplumbed again.
                   init_plumbed_ppa(ppa, ctl.fd, j.what == step::plumb || j.what == step::replumb,
                                    &run.records[ppa], &recorded) == -1) {
            failed_step(run, r, ppa, STEP, {"cannot initialise"});
        } else {
            say_done_below(run, r, ppa);
            say_acted(r, ppa, j);
            run.done.push_back(ppa);
        }
        if (!recorded)
            failed_step(run, r, ppa, STEP, {"not recorded"});
    }
    say_done_below(run, r, INT_MAX);
}

// The last word: every PPA acted on that is not up now is named. false
// when one is not, or the driver stopped answering (then each initialised
// PPA cannot be seen to have taken).
bool all_up(int fd, const apply_plan &work, const apply_run &run, apply_report &r)
{
    if (!driver_answering()) {
        for (const int ppa : run.done)
            say(r, ppa, UP_UNTOLD, {unanswered_reason()});
        return false;
    }
    std::vector<int> wanted;
    for (const auto &[ppa, j] : work.jobs)
        if (j.what != step::take_down && !run.untouched.contains(ppa))
            wanted.push_back(ppa);
    scan_plan plan;
    plan.dlpi = false;
    plan.lookup = conf_lookup::none;
    plan.only = &wanted;
    bool all = true;
    scan_ppas(fd, plan, [&all, &r](const ppa_facts &f) {
        if (is_up(f))
            return;
        if (untold(f))
            say(r, f.ppa, UP_UNTOLD, {f.untold_why});
        else
            say(r, f.ppa, NOT_UP);
        all = false;
    });
    return all;
}

// The plan: the control stream opened, the links an interrupted run left
// unlinked (a dry run asks the same and names them), and every PPA the run
// concerns probed and judged into work. false when the driver or the
// directory cannot be opened; fails is set when links were left.
bool plan_apply(const apply_options &options, control_stream &ctl, apply_plan &work, bool &fails,
                apply_report &r)
{
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured)) {
        say(r, -1, STEP, {ctl.fd < 0 ? "cannot open the driver" : "cannot read the configuration"});
        return false;
    }
    // Links an interrupted run left go first: the driver is clean before
    // anything is plumbed.
    std::vector<int> *unlinked = r.json ? &r.unlinked : nullptr;
    if ((options.dry_run ? foresee_orphans(ctl.fd, unlinked) : unlink_orphans(ctl.fd, unlinked)) ==
        -1) {
        say(r, -1, STEP, {"links left by an interrupted run: not unlinked"});
        fails = true;
    }
    const std::vector<int> only = distinct_ppas(options.ppas);
    // Records of PPAs neither configured nor held are looked at too, so
    // that a stale one goes.
    const std::vector<int> recorded = recorded_ppas();
    scan_plan first = quiet_plan(configured, false);
    first.also = &recorded;
    first.only = options.ppas.empty() ? nullptr : &only;
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
    return true;
}

int apply(const apply_options &options, apply_report &r)
{
    control_stream ctl;
    apply_plan work;
    apply_run run;
    if (!plan_apply(options, ctl, work, run.fails, r))
        return -1;
    if (options.dry_run) {
        const std::set<int> left = foresee(work, r, run.fails);
        for (const auto &[ppa, j] : work.jobs)
            if (!left.contains(ppa))
                say_acted(r, ppa, j);
        return work.skipped || run.fails ? -1 : 0;
    }
    for (const int ppa : work.forget)
        (void)forget_record(ppa);
    if (work.jobs.empty())
        return work.skipped || run.fails ? -1 : 0;
    // Taken down, then plumbed on one control stream; initialised on
    // another. Once the driver stops answering, nothing more is sent to it:
    // what is left is named and not done.
    for (const auto &[ppa, j] : work.jobs) {
        if (driver_answering())
            first_pass(ppa, j, ctl.fd, run, r);
        else
            failed_step(run, r, ppa, NOT_DONE);
    }
    second_pass(work, ctl, run, r);
    if (ctl.fd < 0 && driver_answering())
        return -1;
    const bool converged = all_up(ctl.fd, work, run, r);
    return converged && !work.skipped && !run.fails ? 0 : -1;
}

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
    json_raw(doc, "failed", "[" + r.failures + "]");
    json_raw(doc, "unlinked", json_number_array(r.unlinked));
    json_raw(doc, "unasked", r.unasked);
    std::fputs((json_end(doc) + "\n").c_str(), stdout);
    return result;
}
