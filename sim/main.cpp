// SPDX-License-Identifier: Apache-2.0
// llc2sim: plays the llc2 driver and the network interfaces beneath it on a
// host without STREAMS, for the tool's tests and demo.
#include "scenario.h"
#include "server.h"
#include "std_fds.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace
{

constexpr std::string_view usage_text = "usage: llc2sim --root DIR [--scenario FILE] [--log FILE]\n"
                                        "       llc2sim --help | --version\n";

constexpr std::string_view help_text =
    R"(llc2sim emulates the llc2 STREAMS driver and the network interfaces
beneath it for the llc2 command on a host without STREAMS.

Options:
  --root DIR       create DIR/dev if needed and listen on DIR/dev/llc2 (the
                   control device) and on DIR/dev/NAME for every emulated
                   network interface; run the llc2 command with LLC2_ROOT=DIR
  --scenario FILE  start from this scenario (JSON, below); without it there
                   is one interface "xnic" and no PPA
  --log FILE       write a JSON object per line for every message received,
                   flushed after each line
  --help           show this text
  --version        show the name and version

When every socket exists, llc2sim writes "llc2sim: ready" on standard output.
SIGTERM or SIGINT removes the sockets and ends it with status 0. A bad
command line or scenario, or a socket path longer than 107 bytes, ends it
with status 2.

SIGUSR1 (once ready) writes a "state" line to the log, and one more ends it:
  {"t":12.5,"stream":0,"device":"llc2","kind":"state","reason":"SIGUSR1",
   "links":[{"link_id":1,"lower_device":"xnic","ppa":null},
            {"link_id":4,"lower_device":"xnic","ppa":0}],
   "ppas":[{"ppa":0,"link_id":4,"device":"xnic","instance":0,"state":4,
            "id":1,"mac":"02:00:00:a1:b2:c3"}]}
every link the driver holds with the PPA bound to it or null, and every PPA;
"reason" is "exit" on the last line.

I_PUNLINK of MUXID_ALL (-1) removes every link, bound or not, whichever
control stream made it, and the PPAs bound to them; its log line has
"link_id": -1 and "unlinked": the number of links removed.

Scenario:
  interfaces  emulated network interfaces: "name" (the device DIR/dev/NAME),
              "mac_type" (4), "max_sdu" (1500), "min_sdu" (1),
              "service_mode" (1), "macs" (MAC address of each instance)
  ppas        PPAs that exist at start, as if plumbed before: "ppa" (0-255,
              required), "interface" (the first), "instance" (0), "state"
              (0), "id", "mac", "answer_ppa" (the number GETPPA answers
              with; the PPA's own), "link_id", "params" (ctl_init fields
              by name), "dlpi" (overrides the interface's DLPI values)
  faults      each: "request" (open, enable, disable, getppa, init, uninit,
              getlink, setppa, plink, punlink, attach, info, detach), and
              optionally "ppa" (for info and detach: the PPA the stream is
              attached to; for punlink the link's PPA, none for MUXID_ALL,
              which only a fault without "ppa" hits), "device", "skip"
              (let this many matching requests pass first), "count" (fire
              this often; default always), then one action:
                "errno": NAME or number   refuse (open, ioctl, putmsg fail)
                "noreply": true           never answer
                "delay_ms": N             answer N milliseconds late
                "dlpi": "error_ack"       DL_ERROR_ACK ("dl_errno", default
                                          DL_BADPPA; "unix_errno")
                "dlpi": "wrong_primitive" another primitive ("primitive")
                "dlpi": "long"            reply past the 76-byte fixed part
                                          ("extra" bytes, default 24)
                "dlpi": "data"            reply with a data part ("extra")
                "dlpi": "short"           reply cut to "length" bytes (4)
                "dlpi": "getmsg_errno"    the getmsg of the reply fails
                                          with "errno"
                "dlpi": "poll_errno"      the next poll of the stream fails
                                          with "errno"; the reply still comes
              A request refused, never answered, or answered with error_ack
              or wrong_primitive changes nothing; otherwise it takes effect
              at once, and a late reply still arrives after an I_FLUSH.

DLPI: an attach on an attached stream, or a detach on an unattached one, is
answered with DL_ERROR_ACK and DL_OUTSTATE. A stream head holds one
high-priority message (a later one is discarded while it waits) and at most
16 normal ones; discards are logged.

Example:
  {
    "interfaces": [
      {"name": "xnic", "mac_type": 4, "max_sdu": 1500, "min_sdu": 1,
       "service_mode": 1, "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]}
    ],
    "ppas": [
      {"ppa": 0, "interface": "xnic", "instance": 0, "state": 4, "id": 3,
       "mac": "02:00:00:a1:b2:c3", "link_id": 7, "params": {"acktimer": 2},
       "dlpi": {"mac_type": 4, "max_sdu": 1497, "min_sdu": 1,
                "service_mode": 1}}
    ],
    "faults": [
      {"request": "enable", "ppa": 1, "count": 4, "errno": "EBUSY"},
      {"request": "open", "device": "llc2", "skip": 1, "count": 1,
       "errno": "ENXIO"},
      {"request": "getppa", "ppa": 5, "errno": "EIO"},
      {"request": "attach", "ppa": 0, "dlpi": "poll_errno", "errno": "EINTR"},
      {"request": "detach", "ppa": 0, "noreply": true}
    ]
  }

See llc2sim(8) for the request log.
)";

int usage_error(const std::string &what)
{
    std::fprintf(stderr, "llc2sim: %s\n", what.c_str());
    std::fputs(usage_text.data(), stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // No client socket or log may become a standard descriptor.
    open_std_fds();
    std::string root;
    std::string scenario_path;
    std::string log_path;
    bool have_root = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(usage_text.data(), stdout);
            std::fputs("\n", stdout);
            std::fputs(help_text.data(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("llc2sim %s\n", LLC2_VERSION);
            return 0;
        }
        std::string *target = nullptr;
        if (arg == "--root") {
            target = &root;
            have_root = true;
        } else if (arg == "--scenario") {
            target = &scenario_path;
        } else if (arg == "--log") {
            target = &log_path;
        } else {
            return usage_error("unknown argument \"" + std::string(arg) + "\"");
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0')
            return usage_error(std::string(arg) + " needs a value");
        *target = argv[++i];
    }
    if (!have_root)
        return usage_error("--root is required");

    server_conf conf;
    conf.root = root;
    conf.log_path = log_path;
    conf.sc = default_scenario();
    if (!scenario_path.empty()) {
        std::ifstream in(scenario_path);
        if (!in) {
            std::fprintf(stderr, "llc2sim: %s: %s\n", scenario_path.c_str(), std::strerror(errno));
            return 2;
        }
        std::ostringstream text;
        text << in.rdbuf();
        try {
            conf.sc = parse_scenario(text.str());
        } catch (const std::exception &e) {
            std::fprintf(stderr, "llc2sim: scenario %s: %s\n", scenario_path.c_str(), e.what());
            return 2;
        }
    }
    return run_server(conf);
}
