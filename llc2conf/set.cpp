// SPDX-License-Identifier: Apache-2.0
// llc2conf set: changes some settings of a PPA's file and keeps the rest as
// llc2 reads them, by the one change path.
#include "llc2_report.h"
#include "llc2conf.h"
#include "path.h"
#include "write.h"

#include <libintl.h>

#include <cstdio>
#include <ctime>
#include <string>

int conf_set(int argc, char *const argv[])
{
    bool force = false;
    bool dry_run = false;
    const int i = parse_change_options(argc, argv, false, force, dry_run);
    if (i < 0 || argc - i < 2)
        return EXIT_USAGE;
    int ppa = 0;
    if (!ppa_operand(argv[i], ppa, true))
        return EXIT_USAGE;
    conf_settings settings;
    if (!parse_settings(argc - i - 1, argv + i + 1, true, settings))
        return EXIT_WRONG;

    // Held from before the file is read: what another writer changes
    // meanwhile would otherwise be written over with the old values.
    conf_lock lock;
    if (!lock_for_change(lock, dry_run, false))
        return EXIT_WRONG;
    conf_file_now now;
    if (!look_at_conf(ppa, now))
        return EXIT_WRONG;
    if (!now.exists) {
        std::fprintf(stderr, gettext("no configuration for PPA %d; use create\n"), ppa);
        return EXIT_WRONG;
    }
    // The values as llc2 reads them, whatever the file looks like.
    std::FILE *fp = open_conf(ppa);
    if (fp == nullptr)
        return EXIT_WRONG;
    conf_values v;
    conf_report report;
    const int parsed = parse_conf(fp, ppa, v, report);
    std::fclose(fp);
    if (parsed != 0)
        return EXIT_WRONG;

    if (settings.link_given) {
        v.devicename = settings.provider;
        v.instance = static_cast<int>(settings.instance);
    }
    for (std::size_t k = 0; k < v.params.size(); ++k)
        v.params.at(k) = settings.params.at(k).value_or(v.params.at(k));
    std::string text;
    if (!render_conf(v.devicename.data(), static_cast<unsigned int>(v.instance), v.params.data(),
                     std::time(nullptr), text)) {
        conf_path_buf path;
        (void)conf_file_path(path, ppa);
        report_errno("Cannot write conf file %s: %s\n", path.data());
        return EXIT_WRONG;
    }
    new_conf_warnings(ppa, text);
    return change_conf(ppa, now, text, conf_write_mode::replace, dry_run) == change_result::failed
               ? EXIT_WRONG
               : 0;
}
