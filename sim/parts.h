// SPDX-License-Identifier: Apache-2.0
// What the files of llc2sim's core call of each other: the request log, reply
// frames, the one path that applies a fault, and the handlers per concern.
#ifndef LLC2SIM_PARTS_H
#define LLC2SIM_PARTS_H

#include "core.h"

#include <cstring>
#include <initializer_list>
#include <nlohmann/json.hpp>

using line_t = nlohmann::ordered_json;

// --- the request log and reply frames (core.cpp) ---------------------------

line_t log_line(int stream, const std::string &device, const char *kind);
void emit(sim_state &st, const line_t &l);
std::string hex(std::span<const std::uint8_t> b);
// "ok" for a result of 0 or more, else the errno's name.
std::string result_name(int ret, int err);

bytes make_frame(std::uint32_t op, std::uint64_t seq, std::initializer_list<std::int32_t> a,
                 std::span<const std::uint8_t> body = {}, std::span<const std::uint8_t> body2 = {});
// Sends a reply frame now, or after delay_ms.
void send_frame(sim_state &st, int stream, bytes frame, int delay_ms);

inline std::int32_t word(std::span<const std::uint8_t> body, std::size_t n)
{
    std::int32_t w = 0;
    if (body.size() >= (n + 1) * 4)
        std::memcpy(&w, body.data() + n * 4, sizeof w);
    return w;
}

template <typename T> bytes to_bytes(const T &rec)
{
    bytes b(sizeof rec);
    std::memcpy(b.data(), &rec, sizeof rec);
    return b;
}

// --- faults (faults.cpp) ----------------------------------------------------

// What a fault makes of a request.
struct verdict {
    const fault *f = nullptr; // the fault that fired, if any
    int err = 0;              // the call fails with this errno; nothing changes
    bool apply = true;        // the request takes effect
    bool answer = true;       // an answer comes, after delay_ms
    int delay_ms = 0;
};

// Finds the fault that fires for a request (every fault counts its matches
// on its own; the first in the list wins) and says what it does; names it
// in the log line.
verdict judge(sim_state &st, req_kind kind, std::optional<int> ppa, const std::string &device,
              line_t &l);

// The end of a call answered by one frame: logs the result and sends the
// frame, late or never as the verdict says.
void conclude(sim_state &st, int stream, line_t &l, const verdict &v, int ret, int err,
              bytes frame);

// --- the stream head (head.cpp) ----------------------------------------------

void do_getmsg(sim_state &st, stream_rec &s, const emu_hdr &h);
void do_poll(sim_state &st, stream_rec &s, const emu_hdr &h);
void do_flush(sim_state &st, stream_rec &s, const emu_hdr &h);

// --- driver requests and links (driver.cpp) ---------------------------------

void do_ioctl(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body);
void do_link(sim_state &st, stream_rec &s, const emu_hdr &h);
void do_unlink(sim_state &st, const stream_rec &s, const emu_hdr &h);
int alloc_link(sim_state &st);
const iface_conf *find_iface(const sim_state &st, const std::string &name);

// --- DLPI on control streams (dlpi.cpp) -------------------------------------

void do_putmsg(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body);

#endif
