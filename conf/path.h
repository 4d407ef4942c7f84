// SPDX-License-Identifier: Apache-2.0
// The path rule of the configuration store, shared by the directory scan
// and the writer: a PPA's file in the run's configuration directory
// (common/config_dir.h). Internal to llc2_conf.
#ifndef LLC2_CONF_PATH_H
#define LLC2_CONF_PATH_H

#include "config_dir.h"

// The file of one PPA, "/etc/llc2/default/llc2.<ppa>", rooted. Results as
// for conf_dir_path.
bool conf_file_path(conf_path_buf &buf, int ppa);

#endif
