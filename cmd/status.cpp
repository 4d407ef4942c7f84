// SPDX-License-Identifier: Apache-2.0
// llc2 --json and llc2 --status: the scan of the status table told to
// programs, as one JSON document or as a line and an exit status per PPA.
#include "control.h"
#include "json.h"
#include "llc2_names.h"
#include "llc2_ops.h"
#include "mac_text.h"
#include "scan.h"
#include "status_words.h"

#include <algorithm>
#include <cstdio>
#include <libintl.h>
#include <optional>
#include <string>
#include <vector>

namespace
{

// "applied" and "pending": what llc2 gave the driver, as far as the driver
// confirms it (null for each value that is not known; "applied" itself
// null for a PPA not held), and what differs now or is not known.
void json_applied(json_object &o, const ppa_facts &f, const ppa_view &v)
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
        if (v.applied_at)
            json_str(a, "at", iso_utc(*v.applied_at));
        else
            json_null(a, "at");
        json_raw(o, "applied", json_end(a));
    } else {
        json_null(o, "applied");
    }
    if (v.pending) {
        json_raw(o, "pending", json_string_array(*v.pending));
    } else {
        json_null(o, "pending");
    }
}

std::string json_record(const ppa_facts &f)
{
    const ppa_view v = view_of(f);
    json_object o;
    json_num(o, "ppa", f.ppa);
    // A PPA the driver does not hold has no state in the document.
    if (f.held || untold(f))
        json_str(o, "state", v.state);
    else
        json_null(o, "state");
    if (f.held) {
        json_num(o, "id", f.driver.id);
        json_str(o, "mac", mac_text(f.driver.mac));
    } else {
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
    if (v.as_configured)
        json_bool(o, "as_configured", *v.as_configured);
    else
        json_null(o, "as_configured");
    json_applied(o, f, v);
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
    orphan_watch watch;
    scan_plan plan = quiet_plan(configured, true);
    plan.links = watch.journaled;
    // The document is built in one string, the array of PPAs in place: no
    // copy of it is made, so the peak memory is the document's once.
    json_object doc;
    json_raw(doc, "ppas", "[");
    bool first = true;
    const scan_result scanned = scan_ppas(ctl.fd, plan, [&doc, &first, &watch](const ppa_facts &f) {
        watch.see(f);
        doc.text += first ? "" : ",";
        doc.text += json_record(f);
        first = false;
    });
    doc.text += ']';
    json_raw(doc, "unasked", unasked_json(scanned));
    if (const auto orphans = watch.orphans()) {
        json_raw(doc, "orphan_links", json_number_array(*orphans));
    } else {
        json_null(doc, "orphan_links");
    }
    json_num(doc, "unknown_links", watch.unknown);
    std::string text = json_end(doc);
    text += '\n';
    std::fputs(text.c_str(), stdout);
    // The document stays whole; the run failed all the same.
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
    orphan_watch watch(named.empty());
    plan.links = watch.journaled;
    bool all_right = true;
    bool all_told = true;
    const scan_result scanned =
        scan_ppas(ctl.fd, plan, [&all_right, &all_told, &watch](const ppa_facts &f) {
            watch.see(f);
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
    for (const int id : watch.orphans().value_or(std::vector<int>{})) {
        std::printf("Link %d: %s\n", id, fill(LINK_LEFT.form, {}).c_str());
        all_right = false;
    }
    if (watch.unknown > 0) {
        std::printf("%s\n", fill(LINE_UNKNOWN_LINKS.form, {}).c_str());
        all_right = false;
    }
    if (!all_told)
        return STATUS_UNKNOWN;
    return all_right ? STATUS_AS_CONFIGURED : STATUS_NOT_AS_CONFIGURED;
}

std::string unasked_json(const scan_result &scanned)
{
    // The numbers the driver was not asked about, once it stopped answering.
    if (scanned.unasked_from < 0)
        return "null";
    json_object range;
    json_num(range, "from", scanned.unasked_from);
    json_num(range, "to", LLC2_MAX_PPA - 1);
    json_str(range, "reason", unanswered_reason());
    return json_end(range);
}
