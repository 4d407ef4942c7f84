// llc2 --json and llc2 --status: the scan of the status table told to
// programs, as one JSON document or as a line and an exit status per PPA.
#include "control.h"
#include "json.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "scan.h"
#include "status_words.h"

#include <algorithm>
#include <cstdio>
#include <libintl.h>
#include <string>
#include <vector>

namespace
{

// "applied" and "pending": what llc2 gave the driver, as far as the driver
// confirms it (null for each value that is not known; "applied" itself
// null for a PPA not held), and what differs now or is not known.
void json_applied(json_object &o, const ppa_facts &f)
{
    if (f.held) {
        json_object a;
        if (f.link) {
            json_str(a, DEV_NAME, f.link->devicename);
            json_num(a, DEV_INSTANCE, f.link->instance);
        } else {
            json_null(a, DEV_NAME);
            json_null(a, DEV_INSTANCE);
        }
        for (std::size_t i = 0; i < INIT_PARAMS.size(); ++i)
            if (f.params)
                json_num(a, *INIT_PARAMS.at(i).keyword, f.params->sent.at(i));
            else
                json_null(a, *INIT_PARAMS.at(i).keyword);
        if (f.params)
            json_str(a, "at", iso_utc(f.params->at));
        else
            json_null(a, "at");
        json_raw(o, "applied", json_end(a));
    } else {
        json_null(o, "applied");
    }
    if (const auto keywords = pending(f)) {
        std::string list = "[";
        for (const char *word : *keywords) {
            if (list.size() > 1)
                list += ',';
            json_string(list, word);
        }
        json_raw(o, "pending", list + "]");
    } else {
        json_null(o, "pending");
    }
}

std::string json_record(const ppa_facts &f)
{
    json_object o;
    json_num(o, "ppa", f.ppa);
    if (f.held) {
        json_str(o, "state", state_word(f.driver.state));
        json_num(o, "id", f.driver.id);
        std::array<char, 13> mac{};
        const std::uint8_t *m = f.driver.mac;
        (void)std::snprintf(mac.data(), mac.size(), "%02x%02x%02x%02x%02x%02x", m[0], m[1], m[2],
                            m[3], m[4], m[5]);
        json_str(o, "mac", mac.data());
    } else {
        if (untold(f))
            json_str(o, "state", "unknown");
        else
            json_null(o, "state");
        for (const char *key : {"id", "mac"})
            json_null(o, key);
    }
    if (f.dlpi_known) {
        const char *word = medium_word(f.dlpi.mac_type);
        json_str(o, "type", word != nullptr ? word : "unknown");
        json_num(o, "max_sdu", f.dlpi.max_sdu);
        json_num(o, "min_sdu", f.dlpi.min_sdu);
        json_num(o, "mode", f.dlpi.service_mode);
    } else {
        for (const char *key : {"type", "max_sdu", "min_sdu", "mode"})
            json_null(o, key);
    }
    json_bool(o, "configured", f.has_file);
    if (f.conf_read) {
        json_num(o, "llc2_on", f.conf.params[CONF_LLC2_ON]);
        json_str(o, "device", f.conf.devicename.data());
        json_num(o, "instance", f.conf.instance);
    } else {
        for (const char *key : {"llc2_on", "device", "instance"})
            json_null(o, key);
    }
    if (f.has_file && !f.conf_read)
        json_str(o, "error", f.conf_error);
    else
        json_null(o, "error");
    if (untold(f))
        json_null(o, "as_configured");
    else
        json_bool(o, "as_configured", as_configured(f));
    json_applied(o, f);
    return json_end(o);
}

// What --status says of a PPA after "PPA <n>: ", and what that means.
struct status_line {
    std::string words;
    verdict meaning;
};

status_line say(const status_form &form, std::initializer_list<std::string_view> args = {})
{
    return {fill(form.form, args), form.meaning};
}

status_line status_of(const ppa_facts &f)
{
    if (untold(f))
        return say(ST_CANNOT_TELL, {f.untold_why});
    const std::string held = f.held ? state_word(f.driver.state) : "not plumbed";
    if (!f.has_file)
        return f.held ? say(ST_HELD_NO_FILE, {held}) : say(ST_NOT_CONFIGURED);
    if (!f.conf_read)
        return say(ST_UNUSABLE, {held, shown_name(f.conf_error)});
    const int on = f.conf.params[CONF_LLC2_ON];
    if (on == 0)
        return f.held ? say(ST_HELD_OFF, {held}) : say(ST_SWITCHED_OFF);
    if (as_configured(f))
        return say(ST_UP);
    if (is_up(f)) {
        // What no record proves is never taken for what the file says.
        if (!f.params)
            return say(ST_NOT_RECORDED);
        if (!f.link)
            return say(ST_LINK_NOT_KNOWN);
        return say(ST_CHANGED, {keyword_list(pending(f).value())});
    }
    return say(ST_NOT_UP, {held, std::to_string(on)});
}

} // namespace

int llc2_json(void)
{
    control_stream ctl;
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured))
        return -1;
    std::fputs("{\"ppas\":[", stdout);
    bool first = true;
    const scan_result scanned =
        scan_ppas(ctl.fd, quiet_plan(configured, true), [&first](const ppa_facts &f) {
            std::fputs(first ? "" : ",", stdout);
            std::fputs(json_record(f).c_str(), stdout);
            first = false;
        });
    // The numbers the driver was not asked about, once it stopped answering.
    json_object rest;
    if (scanned.unasked_from >= 0) {
        json_object range;
        json_num(range, "from", scanned.unasked_from);
        json_num(range, "to", LLC2_MAX_PPA - 1);
        json_str(range, "reason", unanswered_reason());
        json_raw(rest, "unasked", json_end(range));
    } else {
        json_null(rest, "unasked");
    }
    // The document stays whole; the run failed all the same.
    const std::string tail = json_end(rest);
    std::fputs("],", stdout);
    std::fputs(tail.c_str() + 1, stdout);
    std::fputs("\n", stdout);
    return scanned.answered && scanned.dlpi_answered ? 0 : -1;
}

int llc2_status(const std::vector<int> &named)
{
    control_stream ctl;
    std::vector<int> configured;
    if (!open_for_scan(ctl, configured))
        return STATUS_UNKNOWN;
    const std::vector<int> only = distinct_ppas(named);
    scan_plan plan = quiet_plan(configured, false);
    plan.only = named.empty() ? nullptr : &only;
    bool all_right = true;
    bool all_told = true;
    const scan_result scanned =
        scan_ppas(ctl.fd, plan, [&all_right, &all_told](const ppa_facts &f) {
            const status_line line = status_of(f);
            std::printf("PPA %d: %s\n", f.ppa, line.words.c_str());
            all_right = all_right && line.meaning == verdict::as_configured;
            all_told = all_told && line.meaning != verdict::cannot_tell;
        });
    if (scanned.unasked_from >= 0) {
        const std::string line =
            fill(LINE_UNASKED.form, {std::to_string(scanned.unasked_from),
                                     std::to_string(LLC2_MAX_PPA - 1), unanswered_reason()});
        std::printf("%s\n", line.c_str());
        all_told = false;
    }
    if (!all_told)
        return STATUS_UNKNOWN;
    return all_right ? STATUS_AS_CONFIGURED : STATUS_NOT_AS_CONFIGURED;
}
