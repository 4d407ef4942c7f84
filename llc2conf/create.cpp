// SPDX-License-Identifier: Apache-2.0
// llc2conf create: writes one PPA's configuration file through the writer,
// after every argument has been checked; the writer checks it reads back.
#include "llc2_names.h"
#include "llc2_report.h"
#include "llc2conf.h"
#include "path.h"
#include "write.h"

#include <libintl.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <string>

int conf_create(int argc, char *const argv[])
{
    bool force = false;
    bool dry_run = false;
    const int i = parse_change_options(argc, argv, true, force, dry_run);
    if (i < 0 || argc - i < 2)
        return EXIT_USAGE;
    int ppa = 0;
    if (!ppa_operand(argv[i], ppa, true))
        return EXIT_USAGE;
    const char *linkname = argv[i + 1];
    conf_settings settings;
    if (!valid_linkname(linkname, settings)) {
        std::fprintf(stderr, gettext("Invalid link name: %s\n"), shown_name(linkname).c_str());
        return EXIT_WRONG;
    }
    if (!parse_settings(argc - i - 2, argv + i + 2, false, settings))
        return EXIT_WRONG;
    // Unnamed settings are 0, which the driver takes as its default; a
    // file is for a PPA that is meant to come up.
    std::array<int, CONF_NPARAMS> params{};
    params[CONF_LLC2_ON] = 1;
    for (std::size_t k = 0; k < params.size(); ++k)
        params.at(k) = settings.params.at(k).value_or(params.at(k));

    // The directory first, for the lock that lives in it; the lock before
    // the old file is read, so that no other writer's change is lost.
    conf_lock lock;
    if (!lock_for_change(lock, dry_run, true))
        return EXIT_WRONG;
    conf_file_now now;
    if (!look_at_conf(ppa, now))
        return EXIT_WRONG;
    std::string text;
    conf_path_buf path;
    (void)conf_file_path(path, ppa); // look_at_conf found it fits
    if (!render_conf(settings.provider.data(), settings.instance, params.data(), std::time(nullptr),
                     text)) {
        report_errno("Cannot write conf file %s: %s\n", path.data());
        return EXIT_WRONG;
    }
    const auto exists = [&path]() {
        std::fprintf(stderr, gettext("%s exists; give -f to replace it\n"), path.data());
        return EXIT_WRONG;
    };
    const bool same = now.regular && same_conf_text(now.text, text);
    if (now.exists && !force && !same)
        return exists();
    if (ppa > PPA_SCAN_MAX) {
        std::fprintf(stderr,
                     gettext("Warning: PPA %d is above %d: llc2 -q and -U never reach it\n"), ppa,
                     PPA_SCAN_MAX);
    }
    new_conf_warnings(ppa, text);
    // Without -f, a file that appears after the look above is still not
    // replaced: of two creates of one PPA, one wins.
    switch (change_conf(ppa, now, text,
                        force ? conf_write_mode::replace : conf_write_mode::create_new, dry_run)) {
    case change_result::unchanged:
    case change_result::written:
    case change_result::removed:
    case change_result::shown:
        return 0;
    case change_result::exists:
        // Another create won; when it wrote what we would, we are done too.
        if (look_at_conf(ppa, now) && now.regular && same_conf_text(now.text, text)) {
            std::printf("PPA %d: unchanged\n", ppa);
            return 0;
        }
        return exists();
    case change_result::failed:
        break;
    }
    return EXIT_WRONG;
}
