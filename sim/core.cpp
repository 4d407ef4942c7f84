// SPDX-License-Identifier: Apache-2.0
// llc2sim's core: the request log, reply frames, streams coming and going,
// the checks every message passes, and the timers of late replies.
#include "errnames.h"
#include "parts.h"
#include "streams.h"

#include <algorithm>
#include <ctime>

namespace
{

void do_open(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = log_line(s.id, s.device, "open");
    l["pid"] = s.pid;
    l["oflag"] = h.a[0];
    const verdict v = judge(st, req_kind::open, std::nullopt, s.device, l);
    const int ret = v.err != 0 ? -1 : 0;
    s.opened = v.apply;
    conclude(st, s.id, l, v, ret, v.err, make_frame(EMU_OPEN, h.seq, {ret, v.err, s.id}));
}

void do_ident(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    emit(st, log_line(s.id, s.device, "ident"));
    st.outbox.push_back({s.id, make_frame(EMU_IDENT, h.seq,
                                          {0, 0, s.id, static_cast<std::int32_t>(s.cookie),
                                           static_cast<std::int32_t>(s.cookie >> 32)})});
}

// As the scenario writes it: "02:00:00:a1:b2:c3".
std::string mac_text(const mac_addr &mac)
{
    std::string s;
    for (const std::uint8_t b : mac)
        s += (s.empty() ? "" : ":") + hex(std::span<const std::uint8_t>(&b, 1));
    return s;
}

void reject(sim_state &st, stream_rec &s, const std::string &reason)
{
    log_bad(st, s.id, s.device, reason);
    if (std::find(st.drop.begin(), st.drop.end(), s.id) == st.drop.end())
        st.drop.push_back(s.id);
}

} // namespace

line_t log_line(int stream, const std::string &device, const char *kind)
{
    line_t l;
    l["t"] = now_s();
    l["stream"] = stream;
    l["device"] = device;
    l["kind"] = kind;
    return l;
}

void emit(sim_state &st, const line_t &l)
{
    if (st.log == nullptr)
        return;
    const std::string text = l.dump(-1, ' ', false, line_t::error_handler_t::replace);
    std::fputs(text.c_str(), st.log);
    std::fputc('\n', st.log);
    // Tests read the log while llc2sim runs.
    std::fflush(st.log);
}

std::string hex(std::span<const std::uint8_t> b)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(b.size() * 2);
    for (const std::uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string result_name(int ret, int err)
{
    return ret < 0 ? errno_name(err) : "ok";
}

bytes make_frame(std::uint32_t op, std::uint64_t seq, std::initializer_list<std::int32_t> a,
                 std::span<const std::uint8_t> body, std::span<const std::uint8_t> body2)
{
    emu_hdr h{};
    h.magic = EMU_MAGIC;
    h.op = op | EMU_REPLY;
    h.seq = seq;
    std::copy_n(a.begin(), std::min<std::size_t>(a.size(), std::size(h.a)), h.a);
    h.len = static_cast<std::uint32_t>(body.size() + body2.size());
    bytes f(sizeof h);
    std::memcpy(f.data(), &h, sizeof h);
    f.insert(f.end(), body.begin(), body.end());
    f.insert(f.end(), body2.begin(), body2.end());
    return f;
}

void send_frame(sim_state &st, int stream, bytes frame, int delay_ms)
{
    if (delay_ms > 0)
        st.timers.push_back({now_s() + delay_ms / 1000.0, stream, std::move(frame), std::nullopt});
    else
        st.outbox.push_back({stream, std::move(frame)});
}

double now_s()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void log_bad(sim_state &st, int stream, const std::string &device, const std::string &reason)
{
    line_t l = log_line(stream, device, "bad");
    l["reason"] = reason;
    emit(st, l);
}

void log_state(sim_state &st, const char *reason)
{
    // Not a stream's: stream 0, the driver's device.
    line_t l = log_line(0, "llc2", "state");
    l["reason"] = reason;
    line_t links = line_t::array();
    for (const auto &[id, k] : st.links)
        links.push_back({{"link_id", id},
                         {"lower_device", k.device},
                         {"ppa", k.ppa ? line_t(*k.ppa) : line_t(nullptr)}});
    line_t ppas = line_t::array();
    for (const auto &[n, p] : st.ppas)
        ppas.push_back({{"ppa", n},
                        {"link_id", p.link_id},
                        {"device", p.device},
                        {"instance", p.instance},
                        {"state", p.state},
                        {"id", p.id},
                        {"mac", mac_text(p.mac)}});
    l["links"] = std::move(links);
    l["ppas"] = std::move(ppas);
    emit(st, l);
}

mac_addr mac_for(const sim_state &st, const std::string &device, int instance)
{
    for (std::size_t i = 0; i < st.interfaces.size(); ++i) {
        const iface_conf &ic = st.interfaces[i];
        if (ic.name != device)
            continue;
        if (instance >= 0 && static_cast<std::size_t>(instance) < ic.macs.size())
            return ic.macs[static_cast<std::size_t>(instance)];
        return {0x02,
                0x00,
                0x00,
                static_cast<std::uint8_t>(i),
                static_cast<std::uint8_t>(static_cast<unsigned>(instance) >> 8),
                static_cast<std::uint8_t>(instance)};
    }
    return {};
}

void load_scenario(sim_state &st, const scenario &sc)
{
    st.interfaces = sc.interfaces;
    st.faults = sc.faults;
    for (const ppa_conf &pc : sc.ppas)
        if (pc.link_id)
            st.links[*pc.link_id] = link_rec{*pc.link_id, pc.interface, 0, pc.ppa};
    for (const ppa_conf &pc : sc.ppas) {
        const int link = pc.link_id ? *pc.link_id : alloc_link(st);
        st.links[link] = link_rec{link, pc.interface, 0, pc.ppa};
        ppa_rec p;
        p.ppa = pc.ppa;
        p.link_id = link;
        p.instance = pc.instance;
        p.device = pc.interface;
        p.state = pc.state;
        p.answer_ppa = pc.answer_ppa;
        p.id = pc.id ? *pc.id : static_cast<std::uint16_t>(st.next_id++);
        p.mac = pc.mac ? *pc.mac : mac_for(st, pc.interface, pc.instance);
        p.params = pc.params;
        if (pc.dlpi)
            p.dlpi = *pc.dlpi;
        else if (const iface_conf *ic = find_iface(st, pc.interface))
            p.dlpi = ic->dlpi;
        st.ppas[p.ppa] = p;
    }
}

int stream_accepted(sim_state &st, const std::string &device, bool control, int pid)
{
    stream_rec s;
    s.id = st.next_stream++;
    s.device = device;
    s.control = control;
    s.pid = pid;
    s.cookie = st.rng();
    st.streams[s.id] = s;
    return s.id;
}

void stream_closed(sim_state &st, int id)
{
    auto it = st.streams.find(id);
    if (it == st.streams.end())
        return;
    const stream_rec &s = it->second;
    const auto owed = std::count_if(st.timers.begin(), st.timers.end(),
                                    [&](const timer_rec &t) { return t.stream == id; });
    // A client blocked in getmsg does not just leave: it was killed.
    if (s.getmsg)
        log_bad(st, id, s.device, "client went away while waiting in getmsg");
    line_t l = log_line(id, s.device, "close");
    l["pending"] = owed;
    emit(st, l);
    std::erase_if(st.timers, [&](const timer_rec &t) { return t.stream == id; });
    st.streams.erase(it);
}

void handle_message(sim_state &st, int id, std::span<const std::uint8_t> msg)
{
    auto it = st.streams.find(id);
    if (it == st.streams.end())
        return;
    stream_rec &s = it->second;
    emu_hdr h{};
    if (msg.size() < sizeof h)
        return reject(st, s, "truncated header (" + std::to_string(msg.size()) + " bytes)");
    std::memcpy(&h, msg.data(), sizeof h);
    const auto body = msg.subspan(sizeof h);
    if (h.magic != EMU_MAGIC)
        return reject(st, s, "bad magic");
    if (h.len != body.size())
        return reject(st, s,
                      "length " + std::to_string(h.len) + " but " + std::to_string(body.size()) +
                          " bytes follow");
    if (!s.opened && h.op != EMU_OPEN)
        return reject(st, s, "request before open");
    if (s.opened && h.op == EMU_OPEN)
        return reject(st, s, "second open");
    const bool empty_body_op = h.op == EMU_OPEN || h.op == EMU_IDENT || h.op == EMU_LINK ||
                               h.op == EMU_UNLINK || h.op == EMU_FLUSH || h.op == EMU_GETMSG ||
                               h.op == EMU_POLL;
    if (empty_body_op && !body.empty())
        return reject(st, s, "unexpected body");

    // A stream that went beneath the driver has no head of its own any more.
    if (s.linked && h.op != EMU_POLL && h.op != EMU_IDENT) {
        log_bad(st, s.id, s.device, "request on a linked stream");
        st.outbox.push_back({s.id, make_frame(h.op & ~EMU_REPLY, h.seq, {-1, EINVAL})});
        return;
    }

    switch (h.op) {
    case EMU_OPEN:
        return do_open(st, s, h);
    case EMU_IOCTL:
        if (h.a[2] < 0 || h.a[2] > EMU_MAX_IOCTL || static_cast<std::size_t>(h.a[2]) != body.size())
            return reject(st, s, "ioctl length does not match its payload");
        return do_ioctl(st, s, h, body);
    case EMU_IDENT:
        return do_ident(st, s, h);
    case EMU_LINK:
        return do_link(st, s, h);
    case EMU_UNLINK:
        return do_unlink(st, s, h);
    case EMU_FLUSH:
        return do_flush(st, s, h);
    case EMU_PUTMSG: {
        const std::int32_t c = h.a[1];
        const std::int32_t d = h.a[2];
        if (c < -1 || c > EMU_MAX_CTL || d < -1 || d > EMU_MAX_DATA ||
            static_cast<std::size_t>(std::max(c, 0)) + static_cast<std::size_t>(std::max(d, 0)) !=
                body.size() ||
            (h.a[0] != 0 && h.a[0] != RS_HIPRI))
            return reject(st, s, "putmsg lengths do not match its body");
        return do_putmsg(st, s, h, body);
    }
    case EMU_GETMSG:
        if (h.a[1] < -1 || h.a[1] > EMU_MAX_CTL || h.a[2] < -1 || h.a[2] > EMU_MAX_DATA ||
            (h.a[0] != 0 && h.a[0] != RS_HIPRI))
            return reject(st, s, "getmsg arguments out of range");
        return do_getmsg(st, s, h);
    case EMU_POLL:
        if (s.linked) {
            st.outbox.push_back({s.id, make_frame(EMU_POLL, h.seq, {POLLERR})});
            return;
        }
        return do_poll(st, s, h);
    default:
        return reject(st, s, "unknown request " + std::to_string(h.op));
    }
}

double run_timers(sim_state &st, double now)
{
    std::vector<timer_rec> due;
    for (auto it = st.timers.begin(); it != st.timers.end();) {
        if (it->due <= now) {
            due.push_back(std::move(*it));
            it = st.timers.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(due.begin(), due.end(),
              [](const timer_rec &a, const timer_rec &b) { return a.due < b.due; });
    for (timer_rec &t : due) {
        auto s = st.streams.find(t.stream);
        if (s == st.streams.end())
            continue;
        if (t.frame)
            st.outbox.push_back({t.stream, std::move(*t.frame)});
        else if (t.msg)
            head_put(st, s->second, std::move(*t.msg));
    }
    if (st.timers.empty())
        return -1;
    const auto first =
        std::min_element(st.timers.begin(), st.timers.end(),
                         [](const timer_rec &a, const timer_rec &b) { return a.due < b.due; });
    return std::max(0.0, first->due - now);
}
