// SPDX-License-Identifier: Apache-2.0
// llc2conf check: what llc2 -P would find wrong with the configured PPAs,
// found before the driver is asked.
#include "init_params.h"
#include "llc2_names.h"
#include "llc2conf.h"
#include "output.h"
#include "path.h"
#include "ppa_number.h"

#include <libintl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace
{

struct conf_file {
    int ppa;
    std::FILE *fp;
};

// The values the driver would not receive as written, and switches that are
// neither on nor off, each at the line that set it. Returns how many it
// reported.
int value_problems(int ppa, const conf_values &v, const conf_report &report)
{
    int wrong = 0;
    for (const conf_switch &sw : CONF_SWITCHES) {
        const int value = v.params.at(sw.conf_index);
        if (value != 0 && value != 1) {
            finding_at(ppa, report.param_line.at(sw.conf_index));
            std::fprintf(stderr, gettext("%s=%d: 0 or 1 is expected\n"), *sw.keyword, value);
            ++wrong;
        }
    }
    for (const init_param &param : INIT_PARAMS) {
        const int value = v.params.at(param.conf_index);
        if (static_cast<unsigned int>(value) <= 0xffffU)
            continue;
        const unsigned int sent = init_param_value(param, value);
        finding_at(ppa, report.param_line.at(param.conf_index));
        if ((static_cast<unsigned int>(value) & 0xffffU) == 0 && param.default_value != 0)
            std::fprintf(stderr, gettext("%s=%d is sent as the default %u\n"), *param.keyword,
                         value, sent);
        else
            std::fprintf(stderr, gettext("%s=%d is cut to %u\n"), *param.keyword, value, sent);
        ++wrong;
    }
    return wrong;
}

// Device and instance of every file that parsed, for the duplicate check.
using device_map = std::map<std::pair<std::string, int>, int>;

// Checks one file; true when nothing is wrong with it.
bool check_one(const conf_file &file, device_map &devices)
{
    const int ppa = file.ppa;
    int wrong = 0;
    conf_values v;
    conf_report report;
    // The finding says why the file is refused.
    const bool parsed = parse_conf(file.fp, ppa, v, report) == 0;
    if (!parsed)
        ++wrong;
    // What create refuses is wrong here too; what it only warns of is a
    // warning, so that "llc2conf check && llc2 -P" boots over it.
    if (ppa < 0 || ppa > PPA_ASKED_MAX) {
        finding_at(ppa, 0);
        std::fprintf(stderr,
                     gettext("PPA %d is outside 0 to %d: llc2 cannot ask the driver about it\n"),
                     ppa, PPA_ASKED_MAX);
        ++wrong;
    } else if (ppa > PPA_SCAN_MAX) {
        finding_at(ppa, 0);
        std::fprintf(stderr,
                     gettext("Warning: PPA %d is above %d: llc2 -q and -U never reach it\n"), ppa,
                     PPA_SCAN_MAX);
    }
    wrong += nul_bytes(ppa, file.fp);
    // What llc2 reads otherwise than it is written is worth a warning only.
    if (!parsed) {
        (void)conf_warnings(ppa, file.fp, nullptr, report);
        return false;
    }
    const char *devicename = v.devicename.data();
    const std::string shown = shown_name(devicename);
    if (!provider_name_ok(devicename)) {
        finding_at(ppa, report.devicename_line);
        std::fprintf(stderr,
                     gettext("devicename=%s: not a device in /dev: a device name has letters, "
                             "digits, '_', '.' and '-' only\n"),
                     shown.c_str());
        ++wrong;
    }
    wrong += value_problems(ppa, v, report);

    const auto [at, fresh] = devices.try_emplace({devicename, v.instance}, ppa);
    if (!fresh) {
        finding_at(ppa, report.instance_line);
        std::fprintf(stderr, gettext("device %s instance %d is also configured in llc2.%d\n"),
                     shown.c_str(), v.instance, at->second);
        ++wrong;
    }
    (void)conf_warnings(ppa, file.fp, &v, report);
    if (wrong == 0) {
        std::printf(gettext("PPA %d: ok: device %s, instance %d, llc2_on %d\n"), ppa, shown.c_str(),
                    v.instance, v.params[CONF_LLC2_ON]);
    }
    // Keep the order of the two streams when both go to one place.
    order_output();
    return wrong == 0;
}

// Directory entries llc2 passes over that look meant for it ("llc2.5~",
// "llc2.5.disabled", "llc2.03"), and temporary files of ours left by a write
// that was killed: warned of by name, in name order. A temporary file younger
// than a minute may be a write in progress and is left unsaid.
void stray_entries()
{
    std::vector<std::pair<std::string, conf_dir_kind>> found;
    // What the walk could not read, the scan has said.
    (void)walk_conf_dir([&found](const conf_dir_entry &entry) {
        if (entry.kind != conf_dir_kind::ppa_file)
            found.emplace_back(entry.name, entry.kind);
    });
    std::sort(found.begin(), found.end());
    conf_path_buf dir;
    (void)conf_dir_path(dir);
    const std::time_t now = std::time(nullptr);
    constexpr std::time_t in_progress = 60;
    for (const auto &[name, kind] : found) {
        const std::string shown = shown_name(name);
        if (kind == conf_dir_kind::stray) {
            std::fprintf(stderr,
                         gettext("%s: Warning: not read: only llc2.<number> configures a PPA\n"),
                         shown.c_str());
            continue;
        }
        struct stat st {
        };
        const std::string path = std::string(dir.data()) + name;
        if (lstat(path.c_str(), &st) == 0 && now - st.st_mtime >= in_progress)
            std::fprintf(stderr,
                         gettext("%s: Warning: left over from an interrupted write; "
                                 "remove it\n"),
                         shown.c_str());
    }
}

} // namespace

int conf_check(int argc, char *const argv[])
{
    std::vector<int> named;
    for (int i = 0; i < argc; ++i) {
        int ppa = 0;
        if (!parse_ppa(argv[i], &ppa)) {
            std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[i]);
            return EXIT_USAGE;
        }
        named.push_back(ppa);
    }

    bool ok = true;
    std::vector<conf_file> files;
    if (named.empty()) {
        // The scan llc2 -P makes; it has reported what it could not open.
        ok = add_conf() == 0;
        stray_entries();
        for (conf_entry *node = conf_head; node != nullptr; node = node->next) {
            // The streams are ours to close from here on.
            files.push_back({node->ppa, node->fp});
            node->fp = nullptr;
        }
    } else {
        std::sort(named.begin(), named.end());
        named.erase(std::unique(named.begin(), named.end()), named.end());
        for (const int ppa : named) {
            std::FILE *fp = open_conf(ppa);
            if (fp == nullptr)
                ok = false;
            else
                files.push_back({ppa, fp});
        }
    }
    // The scan's order is the file system's; an administrator reads by number.
    std::stable_sort(files.begin(), files.end(),
                     [](const conf_file &a, const conf_file &b) { return a.ppa < b.ppa; });

    device_map devices;
    for (const conf_file &file : files)
        ok = check_one(file, devices) && ok;
    for (const conf_file &file : files)
        std::fclose(file.fp);
    if (files.empty() && ok) {
        conf_path_buf dir;
        (void)conf_dir_path(dir);
        std::printf(gettext("No PPA is configured in %s\n"), dir.data());
    }
    return ok ? 0 : EXIT_WRONG;
}
