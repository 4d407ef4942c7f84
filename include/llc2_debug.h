// SPDX-License-Identifier: Apache-2.0
// The process-wide debug switch: raised by one for every -d. Every test of it
// is against 0; there are no levels.
#ifndef LLC2_DEBUG_H
#define LLC2_DEBUG_H

extern int debug;

#endif
