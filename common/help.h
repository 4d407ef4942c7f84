// SPDX-License-Identifier: Apache-2.0
// --help and --version: the only long options of llc2 and llc2conf. Every
// short option and the usage line of a bad command line stay as they are.
#ifndef LLC2_COMMON_HELP_H
#define LLC2_COMMON_HELP_H

// When word is "--help" or "--version", writes the summary or the name and
// version to standard output and returns the exit status, 0. Otherwise
// writes nothing and returns -1.
int llc2_long_option(const char *word);
int llc2conf_long_option(const char *word);

#endif
