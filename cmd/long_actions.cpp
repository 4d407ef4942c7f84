#include "long_actions.h"

#include "ppa_number.h"

#include <cstdio>
#include <cstring>
#include <libintl.h>

int llc2_long_action(const char *word)
{
    if (std::strcmp(word, "--json") == 0)
        return LONG_JSON;
    if (std::strcmp(word, "--status") == 0)
        return LONG_STATUS;
    if (std::strcmp(word, "--apply") == 0)
        return LONG_APPLY;
    return 0;
}

bool take_long_operands(int action, int argc, char *const argv[], int &next, std::vector<int> &ppas)
{
    ++next;
    if (action != LONG_STATUS)
        return true;
    for (; next < argc; ++next) {
        int ppa = 0;
        if (!parse_ppa(argv[next], &ppa)) {
            std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[next]);
            return false;
        }
        ppas.push_back(ppa);
    }
    return true;
}
