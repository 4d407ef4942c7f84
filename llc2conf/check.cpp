// llc2conf check: what llc2 -P would find wrong with the configured PPAs,
// found before the driver is asked.
#include "init_params.h"
#include "llc2conf.h"
#include "output.h"
#include "path.h"
#include "ppa_number.h"

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cstdio>
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
// neither on nor off. Returns how many it reported.
int value_problems(int ppa, const int *params)
{
    int wrong = 0;
    for (const conf_switch &sw : CONF_SWITCHES) {
        const int value = params[sw.conf_index];
        if (value != 0 && value != 1) {
            std::fprintf(stderr, gettext("PPA %d: %s=%d: 0 or 1 is expected\n"), ppa, *sw.keyword,
                         value);
            ++wrong;
        }
    }
    for (const init_param &param : INIT_PARAMS) {
        const int value = params[param.conf_index];
        if (static_cast<unsigned int>(value) <= 0xffffU)
            continue;
        const unsigned int sent = init_param_value(param, value);
        if ((static_cast<unsigned int>(value) & 0xffffU) == 0 && param.default_value != 0)
            std::fprintf(stderr, gettext("PPA %d: %s=%d is sent as the default %u\n"), ppa,
                         *param.keyword, value, sent);
        else
            std::fprintf(stderr, gettext("PPA %d: %s=%d is cut to %u\n"), ppa, *param.keyword,
                         value, sent);
        ++wrong;
    }
    return wrong;
}

// Lines that hold a NUL byte: the parser reads a line only up to it, so
// "devicename=xn\0ic0" quietly names xn. Comment lines do no harm. Returns
// how many it reported.
int nul_bytes(int ppa, std::FILE *fp)
{
    int found = 0;
    int line = 1;
    bool nul = false;
    bool comment = false;
    bool blank = true; // nothing but white space so far on this line
    std::rewind(fp);
    for (int c = std::getc(fp);; c = std::getc(fp)) {
        if (c == EOF || c == '\n') {
            if (nul && !comment) {
                std::fprintf(stderr,
                             gettext("PPA %d: line %d holds a NUL byte: llc2 reads the line only "
                                     "up to it\n"),
                             ppa, line);
                ++found;
            }
            if (c == EOF)
                break;
            ++line;
            nul = comment = false;
            blank = true;
        } else if (c == '\0') {
            nul = true;
            blank = false;
        } else if (blank && c == '#' && !nul) {
            comment = true;
            blank = false;
        } else if (c != ' ' && c != '\t') {
            blank = false;
        }
    }
    std::rewind(fp);
    return found;
}

// Device and instance of every file that parsed, for the duplicate check.
using device_map = std::map<std::pair<std::string, int>, int>;

// Checks one file; true when nothing is wrong with it.
bool check_one(const conf_file &file, device_map &devices)
{
    const int ppa = file.ppa;
    int wrong = 0;
    std::array<char, LLC2_DEVNAME_SIZE> devicename{};
    std::array<int, CONF_NPARAMS> params{};
    int instance = 0;
    const bool parsed = parse_conf(file.fp, devicename.data(), &instance, params.data()) == 0;
    if (!parsed) {
        // The parser has said why.
        conf_path_buf path;
        (void)conf_file_path(path, ppa);
        std::fprintf(stderr, gettext("PPA %d: %s does not parse\n"), ppa, path.data());
        ++wrong;
    }
    // What create refuses is wrong here too; what it only warns of is a
    // warning, so that "llc2conf check && llc2 -P" boots over it.
    if (ppa < 0) {
        std::fprintf(stderr, gettext("PPA %d: outside 0 to %d: llc2 -q and -U never reach it\n"),
                     ppa, PPA_SCAN_MAX);
        ++wrong;
    } else if (ppa > PPA_SCAN_MAX) {
        std::fprintf(stderr,
                     gettext("Warning: PPA %d is above %d: llc2 -q and -U never reach it\n"), ppa,
                     PPA_SCAN_MAX);
    }
    wrong += nul_bytes(ppa, file.fp);
    if (!parsed)
        return false;
    if (!provider_name_ok(devicename.data())) {
        std::fprintf(stderr,
                     gettext("PPA %d: devicename=%s: not a device in /dev: a device name has "
                             "letters, digits, '_', '.' and '-' only\n"),
                     ppa, devicename.data());
        ++wrong;
    }
    wrong += value_problems(ppa, params.data());

    const auto [at, fresh] = devices.try_emplace({devicename.data(), instance}, ppa);
    if (!fresh) {
        std::fprintf(stderr,
                     gettext("PPA %d: device %s instance %d is also configured for PPA %d\n"), ppa,
                     devicename.data(), instance, at->second);
        ++wrong;
    }
    if (wrong == 0) {
        std::printf(gettext("PPA %d: ok: device %s, instance %d, llc2_on %d\n"), ppa,
                    devicename.data(), instance, params[CONF_LLC2_ON]);
    }
    // Keep the order of the two streams when both go to one place.
    order_output();
    return wrong == 0;
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
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0 && files[i].ppa == files[i - 1].ppa) {
            // "llc2.3" and "llc2.3.bak" both read as PPA 3.
            std::fprintf(stderr,
                         gettext("PPA %d: more than one file names it; llc2 -P plumbs it twice\n"),
                         files[i].ppa);
            ok = false;
            continue;
        }
        ok = check_one(files[i], devices) && ok;
    }
    for (const conf_file &file : files)
        std::fclose(file.fp);
    if (files.empty() && ok) {
        conf_path_buf dir;
        (void)conf_dir_path(dir);
        std::printf(gettext("No PPA is configured in %s\n"), dir.data());
    }
    return ok ? 0 : EXIT_WRONG;
}
