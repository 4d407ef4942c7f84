// SPDX-License-Identifier: Apache-2.0
// The path rule of the configuration store, shared by the directory scan
// and the writer. Internal to llc2_conf.
#ifndef LLC2_CONF_PATH_H
#define LLC2_CONF_PATH_H

#include "llc2_conf.h"

#include <array>

using conf_path_buf = std::array<char, LLC2_PATH_SIZE>;

// The configuration directory, rooted. On success true. When the root does
// not fit, false with errno set to ENAMETOOLONG and buf holding as much of
// the path as fits, for the message.
bool conf_dir_path(conf_path_buf &buf);

// The file of one PPA, "/etc/llc2/default/llc2.<ppa>", rooted. Results as
// for conf_dir_path.
bool conf_file_path(conf_path_buf &buf, int ppa);

#endif
