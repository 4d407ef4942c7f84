#include "scan.h"

#include "control.h"
#include "llc2_debug.h"
#include "llc2_report.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string_view>

namespace
{

bool listed(const std::vector<int> *numbers, int ppa)
{
    return numbers != nullptr && std::binary_search(numbers->begin(), numbers->end(), ppa);
}

void look_up_conf(const scan_plan &plan, ppa_facts &f)
{
    if (plan.lookup == conf_lookup::table) {
        FILE *fp = open_conf(f.ppa);
        if (fp == nullptr)
            return;
        f.configured = true;
        f.conf_read = read_conf_and_close(fp, f.conf) == 0;
        return;
    }
    f.configured = listed(plan.configured, f.ppa);
    if (f.configured)
        f.conf_read = read_conf_quiet(f.ppa, f.conf, f.conf_error) == 0;
}

// The numbers presented even when the driver does not hold them.
const std::vector<int> &unheld_wanted(const scan_plan &plan)
{
    static const std::vector<int> none;
    if (plan.only != nullptr)
        return *plan.only;
    if (plan.lookup == conf_lookup::quiet && plan.configured != nullptr)
        return *plan.configured;
    return none;
}

} // namespace

void scan_ppas(int fd, const scan_plan &plan, const ppa_presenter &present)
{
    const std::vector<int> &unheld = unheld_wanted(plan);
    auto next = unheld.begin();
    // Presents the wanted numbers below limit that the driver does not hold.
    const auto present_unheld = [&](long long limit) {
        for (; next != unheld.end() && *next < limit; ++next) {
            if (next != unheld.begin() && *next == *(next - 1))
                continue;
            ppa_facts f;
            f.ppa = *next;
            look_up_conf(plan, f);
            present(f);
        }
    };

    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa) {
        present_unheld(ppa);
        ppa_facts f;
        f.ppa = ppa;
        f.record.ppa = static_cast<std::uint8_t>(ppa);
        if (debug > 0)
            std::fprintf(stderr, "Checking PPA %d\n", ppa);
        if (llc2_request(fd, LLC2_IOC_GETPPA, f.record) < 0) {
            // ENOENT: no PPA at this number. Anything else: the driver
            // will not tell us more, and what was found stands.
            if (errno == ENOENT)
                continue;
            break;
        }
        // Dropped from the unheld ones, whether it is presented or not.
        while (next != unheld.end() && *next == ppa)
            ++next;
        if (plan.only != nullptr && !listed(plan.only, ppa))
            continue;
        f.held = true;
        if (plan.dlpi)
            f.dlpi_known = get_device_info(ppa, fd, f.dlpi) == 0;
        look_up_conf(plan, f);
        present(f);
    }
    present_unheld(static_cast<long long>(INT_MAX) + 1);
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

bool switched_on(const ppa_facts &f)
{
    return f.conf_read && f.conf.params[CONF_LLC2_ON] != 0;
}

bool as_configured(const ppa_facts &f)
{
    if (!f.conf_read)
        return false;
    if (switched_on(f))
        return f.held && std::string_view(state_word(f.record.state)) == "up";
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

scan_plan quiet_plan(const std::vector<int> &configured, bool dlpi)
{
    scan_plan plan;
    plan.dlpi = dlpi;
    plan.lookup = conf_lookup::quiet;
    plan.configured = &configured;
    return plan;
}
