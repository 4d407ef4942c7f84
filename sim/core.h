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

struct stream_rec {
    int id = 0;
    std::string device; // "llc2" or an interface name
    bool control = false;
    bool opened = false;
    bool linked = false; // went beneath the driver: no longer a stream of its own
    int pid = 0;
    std::uint64_t cookie = 0;
    std::deque<queued_msg> readq;
    std::optional<int> attached; // DLPI: the PPA this control stream is attached to
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
    std::optional<ctl_init> params;
    dlpi_values dlpi;
};

// Something to do later: a reply frame to send, or a DLPI reply to queue.
struct timer_rec {
    double due = 0;
    int stream = 0;
    std::optional<bytes> frame;
    std::optional<queued_msg> msg; // dropped by a flush of the write side
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

// Runs the timers that are due; the seconds until the next one, or -1.
double run_timers(sim_state &st, double now);

// A "bad" line in the log.
void log_bad(sim_state &st, int stream, const std::string &device, const std::string &reason);

// The MAC of an interface's instance: the scenario's, else one made up from
// the interface's index and the instance.
mac_addr mac_for(const sim_state &st, const std::string &device, int instance);

#endif
