// SPDX-License-Identifier: Apache-2.0
// The PPA argument of -p, -u, -i and -r.
#ifndef LLC2_COMMON_PPA_NUMBER_H
#define LLC2_COMMON_PPA_NUMBER_H

// Converts text that is a whole decimal number within the range of int: an
// optional leading minus, then one or more digits, nothing else (no sign
// "+", no blanks). true with *ppa set; false, *ppa untouched, otherwise.
// A negative number is accepted: the driver is the one to refuse it.
bool parse_ppa(const char *text, int *ppa);

#endif
