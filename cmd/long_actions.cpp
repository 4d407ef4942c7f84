// SPDX-License-Identifier: Apache-2.0
#include "long_actions.h"

#include "llc2_driver.h"

#include "config_dir.h"
#include "ppa_number.h"

#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <string_view>

int llc2_long_action(const char *word)
{
    if (std::strcmp(word, "--json") == 0)
        return LONG_JSON;
    if (std::strcmp(word, "--status") == 0)
        return LONG_STATUS;
    if (std::strcmp(word, "--apply") == 0)
        return LONG_APPLY;
    if (std::strcmp(word, "--metrics") == 0)
        return LONG_METRICS;
    return 0;
}

bool take_long_operands(int action, int argc, char *const argv[], int &next, std::vector<int> &ppas,
                        apply_options &apply, const char *&config_dir)
{
    ++next;
    if (action == LONG_JSON)
        return true;
    for (; next < argc; ++next) {
        if (const int taken = take_config_dir(argc, argv, next, config_dir); taken != 0) {
            if (taken < 0)
                return false;
            continue;
        }
        const std::string_view word = argv[next];
        bool *flag = nullptr;
        if (action == LONG_APPLY && (word == "-n" || word == "--dry-run"))
            flag = &apply.dry_run;
        else if (action == LONG_APPLY && word == "--json")
            flag = &apply.json;
        else if (action == LONG_APPLY && word == "--prune")
            flag = &apply.prune;
        if (flag != nullptr) {
            if (*flag)
                return false;
            *flag = true;
            continue;
        }
        int ppa = 0;
        // --apply acts on what the driver can be asked about; --status and
        // --metrics may name any number, and tell that they cannot tell.
        if (!parse_ppa(argv[next], &ppa) ||
            (action == LONG_APPLY && (ppa < 0 || ppa > LLC2_GETPPA_MAX))) {
            std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[next]);
            return false;
        }
        (action == LONG_APPLY ? apply.ppas : ppas).push_back(ppa);
    }
    return true;
}
