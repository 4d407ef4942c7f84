// SPDX-License-Identifier: Apache-2.0
// llc2sim's sockets and its one poll loop.
#ifndef LLC2SIM_SERVER_H
#define LLC2SIM_SERVER_H

#include "scenario.h"

#include <string>

struct server_conf {
    std::string root; // sockets go to <root>/dev/
    scenario sc;
    std::string log_path; // empty: no request log
};

// Listens on <root>/dev/llc2 and <root>/dev/<interface>, says "llc2sim:
// ready" on standard output, and serves until SIGTERM or SIGINT, after which
// the sockets are removed and the log ends with a "state" line. SIGUSR1
// writes a "state" line at once. The exit status: 0 after a signal, 2 when
// a socket path does not fit or the setup is refused, 1 for other failures.
int run_server(const server_conf &conf);

#endif
