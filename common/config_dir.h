// SPDX-License-Identifier: Apache-2.0
// The configuration directory of one run: /etc/llc2/default/ under the
// root, or the one -D DIR or --config-dir DIR names on llc2's and llc2conf's
// command lines. The store (conf/) and --help read it from here.
#ifndef LLC2_COMMON_CONFIG_DIR_H
#define LLC2_COMMON_CONFIG_DIR_H

#include "llc2_conf.h"

#include <array>
#include <string_view>

using conf_path_buf = std::array<char, LLC2_PATH_SIZE>;

// Makes dir the configuration directory for the rest of the run, in place of
// /etc/llc2/default: taken as it stands (relative to the working directory
// when relative, never under LLC2_ROOT), for every read and write, the
// writers' lock and temporary files included. Call it before anything is
// read. false with errno ENOENT when dir is empty, ENAMETOOLONG when a file
// path in it would not fit LLC2_PATH_SIZE. Whether it exists is the
// caller's question.
bool use_conf_dir(std::string_view dir);

// The directory use_conf_dir was given, as it was written; empty when the
// run uses the default one. For messages that must name what was given.
std::string_view named_conf_dir();

// The configuration directory, with its '/', rooted unless use_conf_dir
// named it. On success true. When the root does not fit, false with errno
// set to ENAMETOOLONG and buf holding as much of the path as fits, for the
// message.
bool conf_dir_path(conf_path_buf &buf);

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
