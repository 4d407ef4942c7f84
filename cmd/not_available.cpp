// Operations this build does not have yet. Each one says so on standard
// error and fails; none pretends to have done its work. The file goes away,
// one function at a time, as the real operations arrive.
#include "llc2_ops.h"

#include <cstdio>

int llc2_query(void)
{
    std::fputs("llc2: the status table is not available in this build\n", stderr);
    return -1;
}
