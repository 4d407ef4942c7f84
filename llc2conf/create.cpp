// llc2conf create: writes one PPA's configuration file through create_conf,
// after every argument has been checked, and reads it back.
#include "dlpi.h"
#include "init_params.h"
#include "llc2conf.h"
#include "path.h"
#include "ppa_number.h"
#include "write.h"

#include <sys/stat.h>

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace
{

// The file as the parser sees it equals what was asked for.
bool reads_back(int ppa, const char *provider, unsigned int instance, const int *params)
{
    std::FILE *fp = open_conf(ppa);
    if (fp == nullptr)
        return false;
    conf_values read;
    conf_report report;
    const int parsed = parse_conf(fp, ppa, read, report);
    std::fclose(fp);
    return parsed == 0 && std::strcmp(read.devicename.data(), provider) == 0 &&
           read.instance == static_cast<int>(instance) &&
           std::equal(read.params.begin(), read.params.end(), params);
}

} // namespace

int conf_create(int argc, char *const argv[])
{
    bool force = false;
    bool dry_run = false;
    const int i = parse_change_options(argc, argv, true, force, dry_run);
    if (i < 0 || argc - i < 2)
        return EXIT_USAGE;
    int ppa = 0;
    if (!parse_ppa(argv[i], &ppa)) {
        std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[i]);
        return EXIT_USAGE;
    }
    if (ppa < 0) {
        std::fprintf(stderr, gettext("PPA %d is negative: PPA numbers start at 0\n"), ppa);
        return EXIT_WRONG;
    }
    const char *linkname = argv[i + 1];
    conf_settings settings;
    if (!valid_linkname(linkname, settings)) {
        std::fprintf(stderr, gettext("Invalid link name: %s\n"), linkname);
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

    conf_file_now now;
    if (!look_at_conf(ppa, now))
        return EXIT_WRONG;
    const std::string text = render_conf(settings.provider.data(), settings.instance, params.data());
    conf_path_buf path;
    (void)conf_file_path(path, ppa); // look_at_conf found it fits
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
    if (!same && !dry_run && make_conf_dir() != 0)
        return EXIT_WRONG;
    // Without -f, a file that appears after the look above is still not
    // replaced: of two creates of one PPA, one wins.
    switch (change_conf(ppa, now, text, force, dry_run)) {
    case change_result::unchanged:
        return 0;
    case change_result::written:
        break;
    case change_result::exists:
        return exists();
    case change_result::failed:
        return EXIT_WRONG;
    }
    if (!dry_run && !reads_back(ppa, settings.provider.data(), settings.instance, params.data())) {
        std::fprintf(stderr, gettext("%s does not read back as written\n"), path.data());
        return EXIT_WRONG;
    }
    return 0;
}
