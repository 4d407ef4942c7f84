#include "llc2_debug.h"

int debug = 0;
