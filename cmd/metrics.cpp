// SPDX-License-Identifier: Apache-2.0
// llc2 --metrics: the scan of --status told to Prometheus. The format wants
// every series of a family together, so each PPA's facts are cut down to a
// sample as the scan hands them over, and the families are written at the
// end, each with its HELP and TYPE lines.
#include "metrics.h"

#include "control.h"
#include "llc2_ops.h"
#include "scan.h"
#include "utf8.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace
{

// llc2_ppa_state lists each of these for every PPA, 1 for the one it is in:
// the table's state words, a PPA the driver does not hold, and one it did
// not tell about.
constexpr std::array<const char *, 6> PPA_STATES{"up",  "down",           "off",
                                                 "bad", NOT_PLUMBED_WORD, UNKNOWN_WORD};

// What one PPA gives the families; a value left empty gives no series.
struct ppa_sample {
    int ppa = 0;
    // The device its file names, else its proven link's: the name alone
    // and its instance, and the link name the two make ("xnic0").
    std::optional<std::string> device_name;
    std::string device_instance;
    std::string device;
    const char *state = "unknown";
    std::optional<std::int64_t> up;
    std::optional<std::int64_t> as_configured;
    std::optional<std::int64_t> pending;
    std::optional<std::int64_t> applied_at;
};

// The same facts --json gives, under the same conditions: a value --json
// shows as null is no series here.
ppa_sample sample_of(const ppa_facts &f)
{
    const ppa_view v = view_of(f);
    ppa_sample s;
    s.ppa = f.ppa;
    if (f.conf_read) {
        s.device_name = f.conf.devicename.data();
        s.device_instance = std::to_string(f.conf.instance);
    } else if (f.link) {
        s.device_name = f.link->devicename;
        s.device_instance = std::to_string(f.link->instance);
    }
    if (s.device_name)
        s.device = *s.device_name + s.device_instance;
    s.state = v.state;
    if (v.up)
        s.up = *v.up ? 1 : 0;
    if (v.as_configured)
        s.as_configured = *v.as_configured ? 1 : 0;
    if (v.pending)
        s.pending = static_cast<std::int64_t>(v.pending->size());
    s.applied_at = v.applied_at;
    return s;
}

void head(std::string &out, const char *name, const char *help)
{
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" gauge\n");
}

void series(std::string &out, const char *name, const std::string &labels, std::string_view value)
{
    out.append(name);
    if (!labels.empty())
        out.append("{").append(labels).append("}");
    out.append(" ").append(value).append("\n");
}

std::string ppa_label(const ppa_sample &s)
{
    return "ppa=\"" + std::to_string(s.ppa) + "\"";
}

// A family of at most one series a PPA, left out whole when no PPA has a
// value for it.
template <typename Value>
void per_ppa(std::string &out, const char *name, const char *help,
             const std::vector<ppa_sample> &ppas, Value value, bool with_device = false)
{
    std::string lines;
    for (const ppa_sample &s : ppas) {
        const std::optional<std::int64_t> v = value(s);
        if (!v)
            continue;
        std::string labels = ppa_label(s);
        if (with_device) {
            labels += ",device=";
            label_value(labels, s.device);
        }
        series(lines, name, labels, std::to_string(*v));
    }
    if (!lines.empty()) {
        head(out, name, help);
        out += lines;
    }
}

// Seconds with the decimal point whatever the locale: a comma is no number
// to Prometheus.
std::string seconds(double s)
{
    std::array<char, 64> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), s, std::chars_format::fixed, 6);
    return ec == std::errc() ? std::string(buf.data(), end) : std::string("NaN");
}

// What the run tells beside its PPAs.
struct run_sample {
    double took = 0;
    bool success = false;
    // The links interrupted runs left, as --json's orphan_links (how many)
    // and unknown_links; empty when not told.
    std::optional<std::int64_t> orphan_links;
    std::optional<std::int64_t> unknown_links;
};

// A family of one series without labels, or none for an empty value.
void single(std::string &out, const char *name, const char *help, std::optional<std::int64_t> v)
{
    if (!v)
        return;
    head(out, name, help);
    series(out, name, "", std::to_string(*v));
}

std::string exposition(const std::vector<ppa_sample> &ppas, const run_sample &run)
{
    std::string out;
    per_ppa(
        out, "llc2_ppa_up", "Whether the driver holds the PPA and says it is up.", ppas,
        [](const ppa_sample &s) { return s.up; }, true);
    // The info-metric convention: the value is always 1, the labels are the
    // facts. The device instance is not "instance", which Prometheus sets
    // on every series it scrapes.
    std::string info;
    for (const ppa_sample &s : ppas) {
        if (!s.device_name)
            continue;
        std::string labels = ppa_label(s) + ",device=";
        label_value(labels, *s.device_name);
        labels += ",device_instance=";
        label_value(labels, s.device_instance);
        series(info, "llc2_ppa_info", labels, "1");
    }
    if (!info.empty()) {
        head(out, "llc2_ppa_info",
             "The network device the PPA's file names, else its proven record's; always 1.");
        out += info;
    }
    if (!ppas.empty()) {
        head(out, "llc2_ppa_state",
             "The PPA's state, every one listed: 1 for the one it is in, 0 for the others.");
        for (const ppa_sample &s : ppas)
            for (const char *state : PPA_STATES) {
                std::string labels = ppa_label(s) + ",state=";
                label_value(labels, state);
                series(out, "llc2_ppa_state", labels,
                       std::string_view(state) == s.state ? "1" : "0");
            }
    }
    per_ppa(out, "llc2_ppa_as_configured",
            "Whether the PPA is as its configuration wants it, as llc2 --status judges.", ppas,
            [](const ppa_sample &s) { return s.as_configured; });
    per_ppa(out, "llc2_ppa_pending_changes",
            "How many keywords would be sent otherwise than applied, or are not known to be.", ppas,
            [](const ppa_sample &s) { return s.pending; });
    per_ppa(out, "llc2_ppa_applied_timestamp_seconds",
            "When llc2 initialised the PPA with the parameters the driver still confirms.", ppas,
            [](const ppa_sample &s) { return s.applied_at; });
    single(out, "llc2_orphan_links",
           "Links interrupted runs left linked under no PPA, their identifiers known.",
           run.orphan_links);
    single(out, "llc2_unknown_links",
           "Links an interrupted run may have left, their identifiers not known.",
           run.unknown_links);
    head(out, "llc2_scan_duration_seconds", "How long the scan of the driver took.");
    series(out, "llc2_scan_duration_seconds", "", seconds(run.took));
    head(out, "llc2_scan_success",
         "Whether the driver and the configuration could be read and the driver answered "
         "every request.");
    series(out, "llc2_scan_success", "", run.success ? "1" : "0");
    head(out, "llc2_build_info", "The version of llc2 that wrote these metrics.");
    std::string version = "version=";
    label_value(version, LLC2_VERSION);
    series(out, "llc2_build_info", version, "1");
    return out;
}

} // namespace

void label_value(std::string &out, std::string_view value)
{
    out += '"';
    std::size_t kept = 0;
    for (std::size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        std::size_t len = c < 0x80 ? 1 : utf8_sequence(value.substr(i));
        // A malformed byte is written as U+FFFD, three bytes.
        const std::size_t size = len == 0 ? 3 : len;
        if (kept + size > LABEL_VALUE_MAX)
            break;
        kept += size;
        if (len == 0) {
            out += "\xef\xbf\xbd";
            len = 1;
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += value.substr(i, len);
        }
        i += len;
    }
    out += '"';
}

int llc2_metrics(const std::vector<int> &named)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<ppa_sample> ppas;
    run_sample run;
    {
        control_stream ctl;
        std::vector<int> configured;
        if (open_for_scan(ctl, configured)) {
            const std::vector<int> only = distinct_ppas(named);
            scan_plan plan = quiet_plan(configured, false);
            plan.only = named.empty() ? nullptr : &only;
            orphan_watch watch(named.empty());
            plan.links = watch.journaled;
            run.success = scan_ppas(ctl.fd, plan, [&ppas, &watch](const ppa_facts &f) {
                              watch.see(f);
                              ppas.push_back(sample_of(f));
                          }).answered;
            if (named.empty()) {
                if (const auto orphans = watch.orphans())
                    run.orphan_links = static_cast<std::int64_t>(orphans->size());
                run.unknown_links = watch.unknown;
            }
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    run.took = took.count();
    const std::string out = exposition(ppas, run);
    (void)std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
