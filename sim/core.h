// SPDX-License-Identifier: Apache-2.0
// The driver's part of llc2sim: the state the kernel would keep, and what it
// does with each message of a stream. No sockets here: replies go into an
// outbox that the server sends, so the whole core runs in-process too.
#ifndef LLC2SIM_CORE_H
#define LLC2SIM_CORE_H

#include "emu_proto.h"
#include "scenario.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

// State bit that llc2sim sets for an enabled PPA; the command gives it no
// meaning of its own.
inline constexpr std::uint8_t LLC2_STATE_ENABLED = 0x01;

// Normal messages a stream head holds before it discards what comes next.
inline constexpr std::size_t HEAD_MAX_NORMAL = 16;

// A message at a stream head.
struct queued_msg {
    bool hipri = false;
    std::optional<bytes> ctl;
    std::optional<bytes> data;
    int getmsg_errno = 0; // the getmsg that takes it fails with this
};

struct pending_req {
    std::uint64_t seq = 0;
    std::int32_t a[4] = {};
};

// A stream head holds at most one high-priority message, and ahead of the
// normal ones.
struct stream_head {
    std::optional<queued_msg> hipri;
    std::deque<queued_msg> normal;
};

struct stream_rec {
    int id = 0;
    std::string device; // "llc2" or an interface name
    bool control = false;
    bool opened = false;
    bool linked = false; // went beneath the driver: no longer a stream of its own
    int pid = 0;
    std::uint64_t cookie = 0;
    stream_head head;
    std::optional<int> attached; // DLPI: the PPA this control stream is attached to
    int poll_errno = 0;          // the next poll of this stream fails with this
    std::optional<pending_req> getmsg;
    std::optional<pending_req> poll;
};

struct link_rec {
    int id = 0;
    std::string device;
    int lower_stream = 0; // 0: made by the scenario
    std::optional<int> ppa;
};

struct ppa_rec {
    int ppa = 0;
    int link_id = 0;
    int instance = 0;
    std::string device;
    std::uint8_t state = 0;
    std::uint16_t id = 0;
    mac_addr mac{};
    std::optional<std::uint8_t> answer_ppa; // GETPPA names this number instead
    std::optional<ctl_init> params;
    dlpi_values dlpi;
};

// Something to do later: a reply frame to send, or a message for the stream
// head. The driver has sent it already: a flush does not take it back.
struct timer_rec {
    double due = 0;
    int stream = 0;
    std::optional<bytes> frame;
    std::optional<queued_msg> msg;
};

struct outgoing {
    int stream = 0;
    bytes frame;
};

struct sim_state {
    std::vector<iface_conf> interfaces;
    std::vector<fault> faults;
    std::map<int, stream_rec> streams;
    std::map<int, link_rec> links;
    std::map<int, ppa_rec> ppas;
    std::vector<timer_rec> timers;
    std::vector<outgoing> outbox; // for the server to send
    std::vector<int> drop;        // streams the server must close
    int next_stream = 1;
    int next_link = 1;
    int next_id = 1;
    std::FILE *log = nullptr;
    std::mt19937_64 rng{std::random_device{}()};
};

// Monotonic seconds.
double now_s();

// Sets up the state from a scenario (interfaces, PPAs and their links, faults).
void load_scenario(sim_state &st, const scenario &sc);

// A new connection on a device: its stream id.
int stream_accepted(sim_state &st, const std::string &device, bool control, int pid);

// The connection went away (or the server dropped it).
void stream_closed(sim_state &st, int id);

// One message from a stream, as received. Checks it whole; a malformed one
// is logged as "bad" and the stream lands in st.drop.
void handle_message(sim_state &st, int id, std::span<const std::uint8_t> msg);

// Runs the timers due by now; the seconds until the next one, or -1.
double run_timers(sim_state &st, double now);

// A message arrives at a stream head: a high-priority one while another
// waits, or a normal one beyond HEAD_MAX_NORMAL, is discarded and logged.
void head_put(sim_state &st, stream_rec &s, queued_msg m);

// A "state" line in the log: every link held, with the PPA bound to it or
// null, and every PPA with its record. Says why it was written (reason).
void log_state(sim_state &st, const char *reason);

// A "bad" line in the log.
void log_bad(sim_state &st, int stream, const std::string &device, const std::string &reason);

// The MAC of an interface's instance: the scenario's, else one made up from
// the interface's index and the instance.
mac_addr mac_for(const sim_state &st, const std::string &device, int instance);

#endif
