// SPDX-License-Identifier: Apache-2.0
// llc2conf show: the ten values llc2 -i would send the driver for a PPA,
// beside the values its file gives.
#include "init_params.h"
#include "llc2_names.h"
#include "llc2conf.h"
#include "ppa_number.h"

#include <libintl.h>

#include <array>
#include <cstdio>

int conf_show(int argc, char *const argv[])
{
    int ppa = 0;
    if (argc != 1)
        return EXIT_USAGE;
    if (!parse_ppa(argv[0], &ppa)) {
        std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[0]);
        return EXIT_USAGE;
    }
    std::FILE *fp = open_conf(ppa);
    if (fp == nullptr)
        return EXIT_WRONG;
    conf_values v;
    conf_report report;
    // What llc2 would read past is wrong here as it is for check.
    const int nuls = nul_bytes(ppa, fp);
    const int parsed = parse_conf(fp, ppa, v, report);
    (void)conf_warnings(ppa, fp, parsed == 0 ? &v : nullptr, report);
    std::fclose(fp);
    const auto &params = v.params;
    if (parsed == -1) {
        std::fprintf(stderr, gettext("Error reading parameters for PPA %d\n"), ppa);
        return EXIT_WRONG;
    }

    std::printf(gettext("PPA %d: device %s, instance %d, llc2_on %d\n"), ppa,
                shown_name(v.devicename.data()).c_str(), v.instance, params[CONF_LLC2_ON]);
    std::printf("%-14s %8s %8s\n", gettext("keyword"), gettext("written"), gettext("sent"));
    // In the order of ctl_init's fields, as the driver receives them.
    for (const init_param &param : INIT_PARAMS) {
        const int written = params[param.conf_index];
        const unsigned int sent = init_param_value(param, written);
        std::printf("%-14s %8d %8u", *param.keyword, written, sent);
        const char *between = "  ";
        if ((static_cast<unsigned int>(written) & 0xffffU) == 0 && param.default_value != 0) {
            std::printf("%s%s", between, gettext("default"));
            between = "; ";
        } else if (static_cast<unsigned int>(written) != sent) {
            std::printf("%s%s", between, gettext("cut to 16 bits"));
            between = "; ";
        }
        // Written there, but not where an administrator reads it.
        if (report.param_in_rest.at(param.conf_index)) {
            std::fputs(between, stdout);
            std::printf(gettext("read from the rest of line %d"),
                        report.param_line.at(param.conf_index));
        }
        std::putchar('\n');
    }
    if (params[CONF_LLC2_ON] == 0) {
        std::printf(gettext("llc2_on is 0: llc2 -P leaves PPA %d out, llc2 -i %d initialises it "
                            "all the same\n"),
                    ppa, ppa);
    }
    return nuls > 0 ? EXIT_WRONG : 0;
}
