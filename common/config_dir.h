// SPDX-License-Identifier: Apache-2.0
// -D DIR and --config-dir DIR: the configuration directory of one run, as
// llc2 and llc2conf take it from their command lines.
#ifndef LLC2_COMMON_CONFIG_DIR_H
#define LLC2_COMMON_CONFIG_DIR_H

// The directory a run names at argv[next]: "-D DIR", "-DDIR",
// "--config-dir DIR" or "--config-dir=DIR", made the run's configuration
// directory (use_conf_dir). 1 when it is one, with next on its last word
// and dir set; 0 when argv[next] is something else; -1, after saying why,
// when the directory is missing, empty, too long or named a second time.
int take_config_dir(int argc, char *const argv[], int &next, const char *&dir);

// The same for a directory getopt took already (-D's argument): true with
// dir set; false after saying why.
bool name_config_dir(const char *named, const char *&dir);

// Whether dir is a directory that exists: false after "Cannot use
// configuration directory %s: %s". Only llc2 asks: for it a directory
// named by mistake must not pass for an empty configuration.
bool config_dir_exists(const char *dir);

#endif
