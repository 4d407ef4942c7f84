#include "scan.h"

#include "control.h"
#include "llc2_debug.h"
#include "llc2_report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
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

// The numbers presented even when the driver does not hold them, ascending.
std::vector<int> unheld_wanted(const scan_plan &plan)
{
    if (plan.only != nullptr)
        return *plan.only;
    std::vector<int> wanted;
    if (plan.lookup == conf_lookup::quiet && plan.configured != nullptr)
        wanted = *plan.configured;
    if (plan.also != nullptr) {
        wanted.insert(wanted.end(), plan.also->begin(), plan.also->end());
        std::sort(wanted.begin(), wanted.end());
    }
    return wanted;
}

// What one run has learnt about the driver's willingness to answer.
struct answering {
    bool getppa = true; // no GETPPA has gone unanswered
    bool dlpi = true;   // no DLPI reply has failed to come
};

// One GETPPA for f.ppa alone, for a number the scan did not answer for.
void probe_alone(int fd, ppa_facts &f, answering &a)
{
    if (f.ppa < 0 || f.ppa > LLC2_GETPPA_MAX) {
        f.untold = unaskable_reason();
        return;
    }
    if (!a.getppa) {
        f.untold = unanswered_reason();
        return;
    }
    f.record = ppa_info{};
    f.record.ppa = static_cast<std::uint8_t>(f.ppa);
    if (debug > 0)
        std::fprintf(stderr, "Checking PPA %d\n", f.ppa);
    if (llc2_request(fd, LLC2_IOC_GETPPA, f.record) >= 0) {
        f.held = true;
    } else if (errno == ETIME) {
        a.getppa = false;
        f.untold = unanswered_reason();
    } else if (errno != ENOENT) {
        f.untold = std::strerror(errno);
    }
}

// The applied record of f.ppa, judged against what the driver told.
void look_up_record(const scan_plan &plan, ppa_facts &f)
{
    if (!plan.records || untold(f) || !read_applied(f.ppa, f.applied))
        return;
    f.applied_known = f.held && applied_matches(f.applied, f.record);
    f.applied_stale = !f.applied_known;
}

void learn_dlpi(int fd, const scan_plan &plan, ppa_facts &f, answering &a)
{
    if (!plan.dlpi || !a.dlpi)
        return;
    f.dlpi_known = get_device_info(f.ppa, fd, f.dlpi) == 0;
    if (!f.dlpi_known && errno == ETIME && plan.dlpi_gives_up)
        a.dlpi = false;
}

} // namespace

const char *unaskable_reason(void)
{
    return gettext("the driver cannot be asked about a PPA outside 0 to 255");
}

const char *unanswered_reason(void)
{
    return gettext("the driver does not answer");
}

bool scan_ppas(int fd, const scan_plan &plan, const ppa_presenter &present)
{
    const std::vector<int> unheld = unheld_wanted(plan);
    answering asked;
    auto next = unheld.begin();
    // Presents the wanted numbers below limit that the scan did not find
    // held: those it answered ENOENT for are not held; the rest, asked on
    // their own when scanned is false.
    const auto present_unheld = [&](long long limit, bool scanned) {
        for (; next != unheld.end() && *next < limit; ++next) {
            if (next != unheld.begin() && *next == *(next - 1))
                continue;
            ppa_facts f;
            f.ppa = *next;
            if (!scanned || f.ppa < 0)
                probe_alone(fd, f, asked);
            if (f.held)
                learn_dlpi(fd, plan, f, asked);
            look_up_conf(plan, f);
            look_up_record(plan, f);
            present(f);
        }
    };

    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa) {
        present_unheld(ppa, true);
        ppa_facts f;
        f.ppa = ppa;
        f.record.ppa = static_cast<std::uint8_t>(ppa);
        if (debug > 0 && plan.trace)
            std::fprintf(stderr, "Checking PPA %d\n", ppa);
        if (llc2_request(fd, LLC2_IOC_GETPPA, f.record) < 0) {
            // ENOENT: no PPA at this number. Anything else: the driver
            // will not tell us more, and what was found stands; a number
            // wanted from here on is asked about on its own.
            if (errno == ENOENT)
                continue;
            asked.getppa = errno != ETIME;
            break;
        }
        // Dropped from the unheld ones, whether it is presented or not.
        while (next != unheld.end() && *next == ppa)
            ++next;
        if (plan.only != nullptr && !listed(plan.only, ppa))
            continue;
        f.held = true;
        learn_dlpi(fd, plan, f, asked);
        look_up_conf(plan, f);
        look_up_record(plan, f);
        present(f);
    }
    present_unheld(static_cast<long long>(INT_MAX) + 1, false);
    return asked.getppa;
}

bool untold(const ppa_facts &f)
{
    return !f.untold.empty();
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
    return f.held && std::string_view(state_word(f.record.state)) == "up";
}

bool switched_on(const ppa_facts &f)
{
    return f.conf_read && f.conf.params[CONF_LLC2_ON] != 0;
}

std::optional<std::vector<const char *>> pending(const ppa_facts &f)
{
    if (!f.applied_known || !f.conf_read)
        return std::nullopt;
    return pending_keywords(f.applied, f.conf);
}

std::string keyword_list(const std::vector<const char *> &words)
{
    std::string out;
    for (const char *word : words)
        out += (out.empty() ? "" : ", ") + std::string(word);
    return out;
}

bool as_configured(const ppa_facts &f)
{
    if (!f.conf_read || untold(f))
        return false;
    if (switched_on(f))
        return is_up(f) && pending(f).value_or(std::vector<const char *>{}).empty();
    return !f.held;
}

bool open_for_scan(control_stream &ctl, std::vector<int> &configured)
{
    ctl.fd = llc2_open_control();
    if (ctl.fd < 0)
        return false;
    if (configured_ppas(configured) == 0)
        return true;
    report_errno("Cannot open default directory: %s\n");
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
    plan.records = true;
    plan.lookup = conf_lookup::quiet;
    plan.configured = &configured;
    return plan;
}
