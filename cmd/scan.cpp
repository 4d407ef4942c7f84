// SPDX-License-Identifier: Apache-2.0
#include "scan.h"

#include "control.h"
#include "link_journal.h"
#include "llc2_debug.h"
#include "llc2_report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <libintl.h>
#include <string_view>

namespace
{

bool listed(const std::vector<int> *numbers, int ppa)
{
    return numbers != nullptr && std::binary_search(numbers->begin(), numbers->end(), ppa);
}

void look_up_conf(const scan_plan &plan, ppa_facts &f)
{
    if (plan.lookup == conf_lookup::none)
        return;
    if (plan.lookup == conf_lookup::table) {
        FILE *fp = open_conf(f.ppa);
        if (fp == nullptr)
            return;
        f.conf_read = read_conf_and_close(fp, f.conf) == 0;
        return;
    }
    f.has_file = listed(plan.configured, f.ppa);
    if (f.has_file)
        f.conf_read = read_conf_quiet(f.ppa, f.conf, f.conf_error) == 0;
}

// The numbers presented even when the driver does not hold them, ascending
// and each once.
std::vector<int> unheld_wanted(const scan_plan &plan)
{
    if (plan.only != nullptr)
        return *plan.only;
    std::vector<int> wanted;
    if (plan.lookup == conf_lookup::quiet && plan.configured != nullptr)
        wanted = *plan.configured;
    if (plan.also != nullptr)
        wanted.insert(wanted.end(), plan.also->begin(), plan.also->end());
    return distinct_ppas(wanted);
}

// The numbers the scan goes through, ascending and each once: only's, or
// 0 to LLC2_MAX_PPA - 1 and the wanted ones.
std::vector<int> scan_numbers(const scan_plan &plan, const std::vector<int> &wanted)
{
    if (plan.only != nullptr)
        return wanted;
    std::vector<int> numbers = wanted;
    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa)
        numbers.push_back(ppa);
    return distinct_ppas(numbers);
}

// Records why the driver did not tell about f, after a failed request.
void not_told(ppa_facts &f)
{
    f.untold_why = reason_of(errno);
}

// One GETPPA for f.ppa alone, for a number the walk did not answer for.
// Whether a driver that stopped answering is asked at all is the control
// stream's to say: it sends nothing more then.
void probe_alone(int fd, ppa_facts &f)
{
    if (f.ppa < 0 || f.ppa > LLC2_GETPPA_MAX) {
        f.untold_why = unaskable_reason();
        return;
    }
    f.driver = ppa_info{};
    f.driver.ppa = static_cast<std::uint8_t>(f.ppa);
    if (debug > 0 && driver_answering())
        std::fprintf(stderr, "Checking PPA %d\n", f.ppa);
    if (llc2_request(fd, LLC2_IOC_GETPPA, f.driver) >= 0)
        f.held = true;
    else if (errno != ENOENT)
        not_told(f);
}

// The walk's GETPPA for f.ppa. false when it ends the walk: a refusal
// other than ENOENT (the driver will not tell us more; what was found
// stands), or no answer.
bool ask_in_turn(int fd, const scan_plan &plan, ppa_facts &f)
{
    f.driver.ppa = static_cast<std::uint8_t>(f.ppa);
    if (debug > 0 && plan.trace)
        std::fprintf(stderr, "Checking PPA %d\n", f.ppa);
    if (llc2_request(fd, LLC2_IOC_GETPPA, f.driver) >= 0) {
        f.held = true;
        return true;
    }
    return errno == ENOENT;
}

// The parts of f.ppa's record that the driver confirms.
void look_up_record(int fd, const scan_plan &plan, ppa_facts &f)
{
    if (!plan.records || untold(f))
        return;
    std::optional<plumbed_link> link = read_link_part(f.ppa);
    std::optional<applied_params> params = read_params_part(f.ppa);
    f.has_record = link || params;
    if (!f.held)
        return;
    if (params && params_proven(*params, f.driver))
        f.params = params;
    if (!link && !plan.links)
        return;
    f.link_id = ask_link(fd, f.ppa).value_or(-1);
    if (f.link_id < 0) {
        not_told(f);
        f.params.reset();
    } else if (link && f.link_id == link->link_id) {
        f.link = link;
    }
}

void learn_dlpi(int fd, const scan_plan &plan, ppa_facts &f, scan_result &r)
{
    if (!plan.dlpi || (!r.dlpi_answered && plan.dlpi_gives_up))
        return;
    bool unanswered = false;
    f.dlpi_known = get_device_info(f.ppa, fd, f.dlpi, &unanswered) == 0;
    if (unanswered)
        r.dlpi_answered = false;
}

} // namespace

scan_result scan_ppas(int fd, const scan_plan &plan, const ppa_presenter &present)
{
    const std::vector<int> wanted = unheld_wanted(plan);
    scan_result result;
    // The walk over 0 to LLC2_MAX_PPA - 1 goes on until a refusal ends it;
    // after that, with probe_rest, each number of it is asked on its own.
    bool walking = plan.only == nullptr;
    bool probing_rest = false;
    for (const int ppa : scan_numbers(plan, wanted)) {
        ppa_facts f;
        f.ppa = ppa;
        const bool in_walk = plan.only == nullptr && ppa >= 0 && ppa < LLC2_MAX_PPA;
        bool want = listed(&wanted, ppa);
        if (in_walk && !driver_answering() && result.unasked_from < 0)
            result.unasked_from = ppa;
        // The walk told of this number: held, or free (ENOENT).
        bool walk_told = false;
        // The number that ended the walk is not asked again unless wanted:
        // only those after it are.
        const bool after_the_end = probing_rest;
        if (walking && in_walk) {
            walk_told = ask_in_turn(fd, plan, f);
            walking = walk_told;
            if (!driver_answering() && result.unasked_from < 0)
                result.unasked_from = ppa; // asked, and never answered
            probing_rest = !walking && plan.probe_rest && driver_answering();
        }
        if (!walk_told && in_walk && after_the_end && driver_answering()) {
            // Told of on its own: held, or untold, is worth a line.
            probe_alone(fd, f);
            want = want || f.held || untold(f);
        } else if (!walk_told && want) {
            probe_alone(fd, f);
        }
        if (!f.held && !want)
            continue;
        if (f.held)
            learn_dlpi(fd, plan, f, result);
        look_up_conf(plan, f);
        look_up_record(fd, plan, f);
        present(f);
    }
    result.answered = driver_answering();
    return result;
}

bool untold(const ppa_facts &f)
{
    return !f.untold_why.empty();
}

const char *state_word(std::uint8_t state)
{
    if ((state & LLC2_STATE_BAD) != 0)
        return "bad";
    if ((state & LLC2_STATE_UP) != 0)
        return "up";
    if ((state & LLC2_STATE_OFF) != 0)
        return "off";
    return "down";
}

bool is_up(const ppa_facts &f)
{
    return f.held && std::string_view(state_word(f.driver.state)) == "up";
}

bool switched_on(const ppa_facts &f)
{
    return f.conf_read && f.conf.params[CONF_LLC2_ON] != 0;
}

std::optional<std::vector<const char *>> pending(const ppa_facts &f)
{
    if (!f.held || !f.conf_read)
        return std::nullopt;
    return pending_keywords(f.link ? &*f.link : nullptr, f.params ? &*f.params : nullptr, f.conf);
}

std::string keyword_list(const std::vector<const char *> &words)
{
    std::string out;
    for (const char *word : words)
        out += (out.empty() ? "" : ", ") + std::string(word);
    return out;
}

ppa_view view_of(const ppa_facts &f)
{
    ppa_view v;
    if (f.held)
        v.state = state_word(f.driver.state);
    else if (!untold(f))
        v.state = NOT_PLUMBED_WORD;
    // The driver's own answer tells up even where the link could not be.
    if (f.held || !untold(f))
        v.up = is_up(f);
    if (!untold(f))
        v.as_configured = as_configured(f);
    v.pending = pending(f);
    if (f.params)
        v.applied_at = f.params->at;
    return v;
}

bool as_configured(const ppa_facts &f)
{
    if (!f.conf_read || untold(f))
        return false;
    if (switched_on(f))
        return is_up(f) && pending(f).value_or(std::vector<const char *>{}).empty();
    return !f.held;
}

orphan_watch::orphan_watch(bool whole)
    : journaled(whole && !journaled_links().empty()), unknown(whole ? unknown_links() : 0)
{
}

void orphan_watch::see(const ppa_facts &f)
{
    if (untold(f))
        complete_ = false;
    else if (f.held && f.link_id >= 0)
        bound_.push_back(f.link_id);
}

std::optional<std::vector<int>> orphan_watch::orphans() const
{
    if (!journaled)
        return std::vector<int>{};
    if (!complete_)
        return std::nullopt;
    return orphan_links(bound_);
}

bool open_for_scan(control_stream &ctl, std::vector<int> &configured)
{
    ctl.fd = llc2_open_control();
    if (ctl.fd < 0)
        return false;
    if (configured_ppas(configured) == 0)
        return true;
    report_conf_dir_unread();
    return false;
}

std::vector<int> distinct_ppas(std::vector<int> named)
{
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    return named;
}

scan_plan quiet_plan(const std::vector<int> &configured, bool dlpi)
{
    scan_plan plan;
    plan.dlpi = dlpi;
    plan.dlpi_gives_up = true;
    plan.probe_rest = true;
    plan.records = true;
    plan.lookup = conf_lookup::quiet;
    plan.configured = &configured;
    return plan;
}
