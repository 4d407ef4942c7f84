// Operations this build does not have yet. Each one says so on standard
// error and fails; none pretends to have done its work. The file goes away,
// one function at a time, as the real operations arrive.
#include "llc2_ops.h"

#include <cstdio>

int llc2_plumb_ppa(FILE *fp, int, int)
{
    // The caller has handed the stream over; keep that promise.
    if (fp != nullptr)
        std::fclose(fp);
    std::fputs("llc2: plumbing a PPA is not available in this build\n", stderr);
    return -1;
}

int llc2_init_ppa(int, int)
{
    std::fputs("llc2: initialising a PPA is not available in this build\n", stderr);
    return -1;
}

int llc2_plumb_all(void)
{
    std::fputs("llc2: -P: plumbing all PPAs is not available in this build\n", stderr);
    return -1;
}

int llc2_unplumb_all(void)
{
    std::fputs("llc2: -U: unplumbing all PPAs is not available in this build\n", stderr);
    return -1;
}
