// SPDX-License-Identifier: Apache-2.0
#include "llc2_debug.h"

int debug = 0;
