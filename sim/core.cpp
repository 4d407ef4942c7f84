#include "core.h"

#include "dlpi.h"
#include "errnames.h"
#include "streams.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

using line_t = nlohmann::ordered_json;

namespace
{

constexpr t_uscalar_t DL_BADPRIM = 0x09;
constexpr std::uint32_t fixed_part = sizeof(dl_info_ack_t);

// What the driver answers to a request: the result, errno, answer bytes.
struct answer {
    int ret = 0;
    int err = 0;
    bytes body;
};

answer refused(int err)
{
    return {-1, err, {}};
}

template <typename T> T read_rec(std::span<const std::uint8_t> body)
{
    T rec{};
    std::memcpy(&rec, body.data(), std::min(sizeof rec, body.size()));
    return rec;
}

template <typename T> bytes to_bytes(const T &rec)
{
    bytes b(sizeof rec);
    std::memcpy(b.data(), &rec, sizeof rec);
    return b;
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

line_t hex_or_null(const std::optional<bytes> &b)
{
    return b ? line_t(hex(*b)) : line_t(nullptr);
}

std::string result_name(int ret, int err)
{
    return ret < 0 ? errno_name(err) : "ok";
}

line_t line(const sim_state &st, int stream, const std::string &device, const char *kind)
{
    (void)st;
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

bytes make_frame(std::uint32_t op, std::uint64_t seq, std::initializer_list<std::int32_t> a,
                 std::span<const std::uint8_t> body = {}, std::span<const std::uint8_t> body2 = {})
{
    emu_hdr h{};
    h.magic = EMU_MAGIC;
    h.op = op | EMU_REPLY;
    h.seq = seq;
    std::size_t i = 0;
    for (const std::int32_t v : a)
        h.a[i++] = v;
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

// The first fault that fires for this request. Every fault counts the
// requests it matches on its own, so "skip" and "count" of one fault do not
// depend on the others. nullptr: none fires, the request goes through.
fault *match_fault(sim_state &st, req_kind kind, std::optional<int> ppa, const std::string &device)
{
    fault *hit = nullptr;
    for (fault &f : st.faults) {
        if (f.request != kind || (f.device && *f.device != device))
            continue;
        if (f.ppa && (!ppa || *f.ppa != *ppa))
            continue;
        ++f.seen;
        if (hit != nullptr || f.seen <= f.skip || (f.count >= 0 && f.fired >= f.count))
            continue;
        ++f.fired;
        hit = &f;
    }
    return hit;
}

const iface_conf *find_iface(const sim_state &st, const std::string &name)
{
    auto it = std::find_if(st.interfaces.begin(), st.interfaces.end(),
                           [&](const iface_conf &ic) { return ic.name == name; });
    return it != st.interfaces.end() ? &*it : nullptr;
}

int alloc_link(sim_state &st)
{
    while (st.links.count(st.next_link) != 0)
        ++st.next_link;
    return st.next_link++;
}

// --- the driver's I_STR requests --------------------------------------------

std::int32_t word(std::span<const std::uint8_t> body, std::size_t n)
{
    std::int32_t w = 0;
    std::memcpy(&w, body.data() + n * 4, sizeof w);
    return w;
}

answer do_enable(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ppa_enable>(body);
    if (rec.all != LLC2_ENABLE_ALL)
        return refused(EINVAL);
    auto p = st.ppas.find(rec.ppa);
    if (p == st.ppas.end())
        return refused(ENXIO);
    p->second.state |= LLC2_STATE_ENABLED;
    return {0, 0, bytes(body.begin(), body.end())};
}

answer do_disable(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ppa_disable>(body);
    if (rec.all != 0)
        return refused(EINVAL);
    auto p = st.ppas.find(rec.ppa);
    if (p == st.ppas.end())
        return refused(ENXIO);
    p->second.state &= static_cast<std::uint8_t>(~LLC2_STATE_ENABLED);
    return {0, 0, bytes(body.begin(), body.end())};
}

answer do_getppa(sim_state &st, std::span<const std::uint8_t> body)
{
    auto p = st.ppas.find(body[0]);
    if (p == st.ppas.end())
        return refused(ENOENT);
    ppa_info rec{};
    rec.ppa = static_cast<std::uint8_t>(p->second.ppa);
    rec.state = p->second.state;
    rec.id = p->second.id;
    std::memcpy(rec.mac, p->second.mac.data(), sizeof rec.mac);
    return {0, 0, to_bytes(rec)};
}

answer do_init(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ctl_init>(body);
    auto p = st.ppas.find(rec.ppa);
    if (p == st.ppas.end())
        return refused(ENXIO);
    p->second.state |= LLC2_STATE_UP;
    p->second.params = rec;
    return {0, 0, bytes(body.begin(), body.end())};
}

answer do_uninit(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ctl_uninit>(body);
    auto p = st.ppas.find(rec.ppa);
    if (p == st.ppas.end())
        return refused(ENXIO);
    p->second.state &= static_cast<std::uint8_t>(~LLC2_STATE_UP);
    return {0, 0, bytes(body.begin(), body.end())};
}

answer do_getlink(sim_state &st, std::span<const std::uint8_t> body)
{
    auto rec = read_rec<ppa_link>(body);
    if (rec.cmd != LLC2_LINK_CMD)
        return refused(EINVAL);
    auto p = st.ppas.find(rec.ppa);
    if (p == st.ppas.end())
        return refused(ENOENT);
    rec.link_id = p->second.link_id;
    rec.instance = p->second.instance;
    return {0, 0, to_bytes(rec)};
}

answer do_setppa(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ppa_link>(body);
    if (rec.cmd != LLC2_LINK_CMD || rec.ppa < 0 || rec.ppa > 255 || rec.instance < 0)
        return refused(EINVAL);
    auto l = st.links.find(rec.link_id);
    if (l == st.links.end())
        return refused(EINVAL);
    if (l->second.ppa)
        return refused(EBUSY);
    if (st.ppas.count(rec.ppa) != 0)
        return refused(EEXIST);
    ppa_rec p;
    p.ppa = rec.ppa;
    p.link_id = rec.link_id;
    p.instance = rec.instance;
    p.device = l->second.device;
    p.state = 0;
    p.id = static_cast<std::uint16_t>(st.next_id++);
    p.mac = mac_for(st, p.device, p.instance);
    if (const iface_conf *ic = find_iface(st, p.device))
        p.dlpi = ic->dlpi;
    st.ppas[p.ppa] = p;
    l->second.ppa = p.ppa;
    return {0, 0, bytes(body.begin(), body.end())};
}

void do_ioctl(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body)
{
    const int cmd = h.a[0];
    const int len = h.a[2];
    line_t l = line(st, s.id, s.device, "ioctl");
    l["ic_cmd"] = cmd;
    l["ic_timout"] = h.a[1];
    l["ic_len"] = len;
    l["payload"] = hex(body);

    std::optional<req_kind> kind;
    std::optional<int> ppa;
    answer (*effect)(sim_state &, std::span<const std::uint8_t>) = nullptr;
    if (s.control) {
        if (cmd == LLC2_IOC_ENABLE && len == sizeof(ppa_enable)) {
            kind = req_kind::enable, ppa = word(body, 1), effect = do_enable;
        } else if (cmd == LLC2_IOC_DISABLE && len == sizeof(ppa_disable)) {
            kind = req_kind::disable, ppa = word(body, 1), effect = do_disable;
        } else if (cmd == LLC2_IOC_GETPPA && len == sizeof(ppa_info)) {
            kind = req_kind::getppa, ppa = body[0], effect = do_getppa;
        } else if (cmd == LLC2_IOC_CONTROL && len == sizeof(ctl_init) &&
                   static_cast<std::uint32_t>(word(body, 1)) == LLC2_CTL_INIT) {
            kind = req_kind::init, ppa = word(body, 0), effect = do_init;
        } else if (cmd == LLC2_IOC_CONTROL && len == sizeof(ctl_uninit) &&
                   static_cast<std::uint32_t>(word(body, 1)) == LLC2_CTL_UNINIT) {
            kind = req_kind::uninit, ppa = word(body, 0), effect = do_uninit;
        } else if (cmd == LLC2_IOC_GETLINK && len == sizeof(ppa_link)) {
            kind = req_kind::getlink, ppa = word(body, 0), effect = do_getlink;
        } else if (cmd == LLC2_IOC_SETPPA && len == sizeof(ppa_link)) {
            kind = req_kind::setppa, ppa = word(body, 0), effect = do_setppa;
        }
    }
    if (kind) {
        l["request"] = req_kind_name(*kind);
        l["ppa"] = *ppa;
    }

    // Unknown command, wrong length, or not the driver's stream.
    answer a = refused(EINVAL);
    int delay = 0;
    fault *f = kind ? match_fault(st, *kind, ppa, s.device) : nullptr;
    if (f != nullptr)
        l["fault"] = fault_action_name(f->action);
    if (f != nullptr && f->action == fault_action::noreply) {
        l["result"] = "noreply";
        emit(st, l);
        return;
    }
    if (f != nullptr && f->action == fault_action::refuse) {
        a = refused(f->err);
    } else if (effect != nullptr) {
        a = effect(st, body);
        if (f != nullptr && f->action == fault_action::delay)
            delay = f->delay_ms;
    }
    l["result"] = result_name(a.ret, a.err);
    if (delay > 0)
        l["delay_ms"] = delay;
    emit(st, l);
    send_frame(st, s.id,
               make_frame(EMU_IOCTL, h.seq,
                          {a.ret, a.err, static_cast<std::int32_t>(a.body.size())}, a.body),
               delay);
}

// --- links -----------------------------------------------------------------

void do_link(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    const int lower_id = h.a[0];
    const std::uint64_t cookie =
        static_cast<std::uint32_t>(h.a[1]) |
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(h.a[2])) << 32);
    line_t l = line(st, s.id, s.device, "link");
    l["lower_stream"] = lower_id;

    // Only an open stream of an emulated interface goes beneath the driver.
    auto lower = st.streams.find(lower_id);
    const bool valid = s.control && lower != st.streams.end() && lower->second.opened &&
                       !lower->second.control && !lower->second.linked &&
                       lower->second.cookie == cookie && lower_id != s.id;
    const std::string lower_dev = lower != st.streams.end() ? lower->second.device : "";
    if (lower != st.streams.end())
        l["lower_device"] = lower_dev;

    answer a = refused(EINVAL);
    int delay = 0;
    if (valid) {
        fault *f = match_fault(st, req_kind::plink, std::nullopt, lower_dev);
        if (f != nullptr)
            l["fault"] = fault_action_name(f->action);
        if (f != nullptr && f->action == fault_action::noreply) {
            l["link_id"] = -1;
            l["result"] = "noreply";
            emit(st, l);
            return;
        }
        if (f != nullptr && f->action == fault_action::refuse) {
            a = refused(f->err);
        } else {
            const int id = alloc_link(st);
            st.links[id] = link_rec{id, lower_dev, lower_id, std::nullopt};
            lower->second.linked = true;
            a = {id, 0, {}};
            if (f != nullptr && f->action == fault_action::delay)
                delay = f->delay_ms;
        }
    }
    l["link_id"] = a.ret >= 0 ? a.ret : -1;
    l["result"] = result_name(a.ret, a.err);
    if (delay > 0)
        l["delay_ms"] = delay;
    emit(st, l);
    send_frame(st, s.id, make_frame(EMU_LINK, h.seq, {a.ret, a.err}), delay);
}

void remove_link(sim_state &st, int id)
{
    auto l = st.links.find(id);
    if (l == st.links.end())
        return;
    // The PPA bound to the link goes with its lower stream.
    if (l->second.ppa)
        st.ppas.erase(*l->second.ppa);
    st.links.erase(l);
}

void do_unlink(sim_state &st, const stream_rec &s, const emu_hdr &h)
{
    constexpr int muxid_all = -1;
    const int id = h.a[0];
    line_t l = line(st, s.id, s.device, "unlink");
    l["link_id"] = id;

    answer a = refused(EINVAL);
    int delay = 0;
    auto link = st.links.find(id);
    if (s.control && (id == muxid_all || link != st.links.end())) {
        std::optional<int> ppa;
        if (link != st.links.end())
            ppa = link->second.ppa;
        fault *f = match_fault(st, req_kind::punlink, ppa, s.device);
        if (f != nullptr)
            l["fault"] = fault_action_name(f->action);
        if (f != nullptr && f->action == fault_action::noreply) {
            l["result"] = "noreply";
            emit(st, l);
            return;
        }
        if (f != nullptr && f->action == fault_action::refuse) {
            a = refused(f->err);
        } else {
            if (id == muxid_all) {
                while (!st.links.empty())
                    remove_link(st, st.links.begin()->first);
            } else {
                remove_link(st, id);
            }
            a = {0, 0, {}};
            if (f != nullptr && f->action == fault_action::delay)
                delay = f->delay_ms;
        }
    }
    l["result"] = result_name(a.ret, a.err);
    if (delay > 0)
        l["delay_ms"] = delay;
    emit(st, l);
    send_frame(st, s.id, make_frame(EMU_UNLINK, h.seq, {a.ret, a.err}), delay);
}

// --- the stream head -------------------------------------------------------

short head_events(const stream_rec &s)
{
    short ev = POLLOUT | POLLWRNORM;
    if (!s.readq.empty())
        ev |= s.readq.front().hipri ? POLLPRI : static_cast<short>(POLLIN | POLLRDNORM);
    return ev;
}

bool eligible(const stream_rec &s, int flags)
{
    return !s.readq.empty() && (flags != RS_HIPRI || s.readq.front().hipri);
}

// Takes what fits of the head message; the rest stays at the head.
bytes take_message(stream_rec &s, const pending_req &r, line_t &l)
{
    queued_msg &m = s.readq.front();
    if (m.getmsg_errno != 0) {
        const int err = m.getmsg_errno;
        s.readq.pop_front();
        l["result"] = errno_name(err);
        return make_frame(EMU_GETMSG, r.seq, {-1, err});
    }
    int more = 0;
    auto take = [&](std::optional<bytes> &part, std::int32_t maxlen, int flag, bytes &out) {
        if (!part)
            return -1;
        if (maxlen < 0) { // not asked for: left alone
            more |= flag;
            return -1;
        }
        const std::size_t n = std::min(part->size(), static_cast<std::size_t>(maxlen));
        out.assign(part->begin(), part->begin() + static_cast<std::ptrdiff_t>(n));
        part->erase(part->begin(), part->begin() + static_cast<std::ptrdiff_t>(n));
        if (part->empty())
            part.reset();
        else
            more |= flag;
        return static_cast<int>(n);
    };
    bytes c;
    bytes d;
    const int clen = take(m.ctl, r.a[1], MORECTL, c);
    const int dlen = take(m.data, r.a[2], MOREDATA, d);
    const int flags = m.hipri ? RS_HIPRI : 0;
    if (!m.ctl && !m.data)
        s.readq.pop_front();

    l["result"] = "ok";
    l["more"] = more;
    l["ctl"] = clen >= 0 ? line_t(hex(c)) : line_t(nullptr);
    l["data"] = dlen >= 0 ? line_t(hex(d)) : line_t(nullptr);
    if (c.size() >= 4)
        l["primitive"] = static_cast<std::uint32_t>(word(c, 0));
    return make_frame(EMU_GETMSG, r.seq, {more, 0, clen, dlen, flags}, c, d);
}

// A message has come to the head: wake a blocked getmsg, then a poll.
void head_changed(sim_state &st, stream_rec &s)
{
    if (s.getmsg && eligible(s, s.getmsg->a[0])) {
        line_t l = line(st, s.id, s.device, "getmsg");
        l["waited"] = true;
        bytes f = take_message(s, *s.getmsg, l);
        emit(st, l);
        s.getmsg.reset();
        st.outbox.push_back({s.id, std::move(f)});
    }
    if (s.poll) {
        const short ready = static_cast<short>(head_events(s) & s.poll->a[0]);
        if (ready != 0) {
            st.outbox.push_back({s.id, make_frame(EMU_POLL, s.poll->seq, {ready})});
            s.poll.reset();
        }
    }
}

void queue_msg(sim_state &st, stream_rec &s, queued_msg m)
{
    // High-priority messages go ahead of ordinary ones.
    if (m.hipri) {
        auto pos = std::find_if(s.readq.begin(), s.readq.end(),
                                [](const queued_msg &q) { return !q.hipri; });
        s.readq.insert(pos, std::move(m));
    } else {
        s.readq.push_back(std::move(m));
    }
    head_changed(st, s);
}

void do_getmsg(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = line(st, s.id, s.device, "getmsg");
    l["flags"] = h.a[0];
    l["ctl_maxlen"] = h.a[1];
    l["data_maxlen"] = h.a[2];
    pending_req r{h.seq, {h.a[0], h.a[1], h.a[2], h.a[3]}};
    if (eligible(s, h.a[0])) {
        bytes f = take_message(s, r, l);
        emit(st, l);
        st.outbox.push_back({s.id, std::move(f)});
        return;
    }
    if (h.a[3] != 0) {
        l["result"] = "EAGAIN";
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_GETMSG, h.seq, {-1, EAGAIN})});
        return;
    }
    l["result"] = "pending";
    emit(st, l);
    s.getmsg = r;
}

// Answers at once with what holds now; when that is nothing, the same seq
// is answered again once something comes.
void do_poll(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = line(st, s.id, s.device, "poll");
    l["events"] = h.a[0];
    const short ready = static_cast<short>(head_events(s) & h.a[0]);
    l["revents"] = ready;
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_POLL, h.seq, {ready})});
    if (ready != 0)
        s.poll.reset();
    else
        s.poll = pending_req{h.seq, {h.a[0], 0, 0, 0}};
}

void do_flush(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    const int how = h.a[0];
    line_t l = line(st, s.id, s.device, "flush");
    l["how"] = how;
    if (how < FLUSHR || how > FLUSHRW) {
        l["result"] = "EINVAL";
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_FLUSH, h.seq, {-1, EINVAL})});
        return;
    }
    std::size_t gone = 0;
    if ((how & FLUSHR) != 0) {
        gone += s.readq.size();
        s.readq.clear();
    }
    // DLPI replies still on their way up count as queued on the write side.
    if ((how & FLUSHW) != 0) {
        const auto before = st.timers.size();
        std::erase_if(st.timers, [&](const timer_rec &t) { return t.stream == s.id && t.msg; });
        gone += before - st.timers.size();
    }
    l["discarded"] = gone;
    l["result"] = "ok";
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_FLUSH, h.seq, {0, 0})});
}

// --- DLPI on the control stream --------------------------------------------

queued_msg proto_reply(const bytes &ctl)
{
    queued_msg m;
    m.hipri = true; // DLPI acknowledgements are M_PCPROTO
    m.ctl = ctl;
    return m;
}

queued_msg error_ack(t_uscalar_t prim, t_uscalar_t dl_errno, t_uscalar_t unix_errno)
{
    const dl_error_ack_t e{DL_ERROR_ACK, prim, dl_errno, unix_errno};
    return proto_reply(to_bytes(e));
}

queued_msg ok_ack(t_uscalar_t prim)
{
    const dl_ok_ack_t a{DL_OK_ACK, prim};
    return proto_reply(to_bytes(a));
}

dl_info_ack_t info_fields(const sim_state &st, std::optional<int> ppa)
{
    dl_info_ack_t a{};
    a.dl_primitive = DL_INFO_ACK;
    a.dl_current_state = DL_UNATTACHED;
    a.dl_provider_style = DL_STYLE2;
    a.dl_version = DL_VERSION_2;
    if (ppa) {
        auto p = st.ppas.find(*ppa);
        if (p != st.ppas.end()) {
            a.dl_max_sdu = p->second.dlpi.max_sdu;
            a.dl_min_sdu = p->second.dlpi.min_sdu;
            a.dl_mac_type = p->second.dlpi.mac_type;
            a.dl_service_mode = p->second.dlpi.service_mode;
            a.dl_current_state = DL_UNBOUND;
        }
    }
    return a;
}

// The driver's own answer; with apply false nothing changes on the stream.
queued_msg dlpi_answer(sim_state &st, stream_rec &s, t_uscalar_t prim,
                       std::span<const std::uint8_t> ctl, bool apply)
{
    if (!s.control)
        return error_ack(prim, DL_BADPRIM, 0);
    switch (prim) {
    case DL_ATTACH_REQ: {
        if (ctl.size() < sizeof(dl_attach_req_t))
            return error_ack(prim, DL_BADPRIM, 0);
        const int ppa = word(ctl, 1);
        if (st.ppas.count(ppa) == 0)
            return error_ack(prim, DL_BADPPA, 0);
        // A stream already attached moves to the new PPA.
        if (apply)
            s.attached = ppa;
        return ok_ack(prim);
    }
    case DL_INFO_REQ:
        if (s.attached && st.ppas.count(*s.attached) == 0)
            return error_ack(prim, DL_BADPPA, 0);
        return proto_reply(to_bytes(info_fields(st, s.attached)));
    case DL_DETACH_REQ:
        if (!s.attached)
            return error_ack(prim, DL_OUTSTATE, 0);
        if (apply)
            s.attached.reset();
        return ok_ack(prim);
    default:
        return error_ack(prim, DL_BADPRIM, 0);
    }
}

bytes filler(const sim_state &st, std::optional<int> ppa, std::size_t n)
{
    bytes b(n, 0);
    auto p = ppa ? st.ppas.find(*ppa) : st.ppas.end();
    for (std::size_t i = 0; i < n; ++i)
        b[i] = p != st.ppas.end() ? p->second.mac[i % 6] : static_cast<std::uint8_t>(i);
    return b;
}

void do_putmsg(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body)
{
    const int flags = h.a[0];
    std::optional<bytes> ctl;
    std::optional<bytes> data;
    std::size_t at = 0;
    if (h.a[1] >= 0) {
        ctl = bytes(body.begin(), body.begin() + h.a[1]);
        at = static_cast<std::size_t>(h.a[1]);
    }
    if (h.a[2] >= 0)
        data = bytes(body.begin() + static_cast<std::ptrdiff_t>(at), body.end());

    line_t l = line(st, s.id, s.device, "putmsg");
    l["ctl"] = hex_or_null(ctl);
    l["data"] = hex_or_null(data);
    l["flags"] = flags;
    std::optional<t_uscalar_t> prim;
    if (ctl && ctl->size() >= 4) {
        prim = static_cast<t_uscalar_t>(word(*ctl, 0));
        l["primitive"] = *prim;
    }

    std::optional<req_kind> kind;
    std::optional<int> ppa;
    if (prim == DL_ATTACH_REQ) {
        kind = req_kind::attach;
        if (ctl->size() >= sizeof(dl_attach_req_t))
            ppa = word(*ctl, 1);
    } else if (prim == DL_INFO_REQ) {
        kind = req_kind::info, ppa = s.attached;
    } else if (prim == DL_DETACH_REQ) {
        kind = req_kind::detach, ppa = s.attached;
    }
    if (kind)
        l["request"] = req_kind_name(*kind);
    fault *f = kind ? match_fault(st, *kind, ppa, s.device) : nullptr;
    if (f != nullptr)
        l["fault"] = fault_action_name(f->action);

    if (f != nullptr && f->action == fault_action::refuse) {
        l["result"] = errno_name(f->err);
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_PUTMSG, h.seq, {-1, f->err})});
        return;
    }
    l["result"] = "ok";
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_PUTMSG, h.seq, {0, 0})});
    // A message without a control part carries no primitive: nothing answers it.
    if (!prim)
        return;

    queued_msg reply;
    int delay = 0;
    const fault_action act = f != nullptr ? f->action : fault_action::refuse;
    if (f != nullptr && act == fault_action::noreply)
        return;
    if (f != nullptr && act == fault_action::error_ack) {
        reply = error_ack(*prim, f->dl_errno, f->unix_errno);
    } else if (f != nullptr && act == fault_action::wrong_primitive) {
        const t_uscalar_t p =
            f->primitive.value_or(kind == req_kind::info ? DL_OK_ACK : DL_INFO_ACK);
        if (p == DL_INFO_ACK) {
            reply = proto_reply(to_bytes(info_fields(st, ppa)));
        } else if (p == DL_ERROR_ACK) {
            reply = error_ack(*prim, DL_BADPPA, 0);
        } else {
            const dl_ok_ack_t other{p, *prim};
            reply = proto_reply(to_bytes(other));
        }
    } else {
        reply = dlpi_answer(st, s, *prim, *ctl, true);
        if (f != nullptr) {
            switch (act) {
            case fault_action::delay:
                delay = f->delay_ms;
                break;
            case fault_action::long_reply: {
                bytes &c = *reply.ctl;
                const std::size_t base = std::max<std::size_t>(c.size(), fixed_part);
                c.resize(base, 0);
                const bytes tail = filler(st, ppa, static_cast<std::size_t>(f->extra));
                c.insert(c.end(), tail.begin(), tail.end());
                // An info ack that is longer carries an address behind its fixed part.
                if (word(c, 0) == static_cast<std::int32_t>(DL_INFO_ACK)) {
                    const std::uint32_t alen = static_cast<std::uint32_t>(f->extra);
                    std::memcpy(c.data() + offsetof(dl_info_ack_t, dl_addr_length), &alen, 4);
                    std::memcpy(c.data() + offsetof(dl_info_ack_t, dl_addr_offset), &fixed_part, 4);
                }
                break;
            }
            case fault_action::data_part:
                reply.data = filler(st, ppa, static_cast<std::size_t>(f->extra));
                break;
            case fault_action::short_reply:
                reply.ctl->resize(std::min(reply.ctl->size(), static_cast<std::size_t>(f->length)));
                break;
            case fault_action::getmsg_errno:
                reply.getmsg_errno = f->err;
                break;
            default:
                break;
            }
        }
    }
    if (delay > 0)
        st.timers.push_back({now_s() + delay / 1000.0, s.id, std::nullopt, std::move(reply)});
    else
        queue_msg(st, s, std::move(reply));
}

void do_open(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = line(st, s.id, s.device, "open");
    l["pid"] = s.pid;
    l["oflag"] = h.a[0];
    fault *f = match_fault(st, req_kind::open, std::nullopt, s.device);
    if (f != nullptr)
        l["fault"] = fault_action_name(f->action);
    if (f != nullptr && f->action == fault_action::noreply) {
        l["result"] = "noreply";
        emit(st, l);
        return;
    }
    if (f != nullptr && f->action == fault_action::refuse) {
        l["result"] = errno_name(f->err);
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_OPEN, h.seq, {-1, f->err, s.id})});
        return;
    }
    s.opened = true;
    l["result"] = "ok";
    const int delay = f != nullptr ? f->delay_ms : 0;
    if (delay > 0)
        l["delay_ms"] = delay;
    emit(st, l);
    send_frame(st, s.id, make_frame(EMU_OPEN, h.seq, {0, 0, s.id}), delay);
}

void do_ident(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = line(st, s.id, s.device, "ident");
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_IDENT, h.seq,
                                          {0, 0, s.id, static_cast<std::int32_t>(s.cookie),
                                           static_cast<std::int32_t>(s.cookie >> 32)})});
}

void reject(sim_state &st, stream_rec &s, const std::string &reason)
{
    log_bad(st, s.id, s.device, reason);
    if (std::find(st.drop.begin(), st.drop.end(), s.id) == st.drop.end())
        st.drop.push_back(s.id);
}

} // namespace

double now_s()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void log_bad(sim_state &st, int stream, const std::string &device, const std::string &reason)
{
    line_t l = line(st, stream, device, "bad");
    l["reason"] = reason;
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
    line_t l = line(st, id, s.device, "close");
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
            queue_msg(st, s->second, std::move(*t.msg));
    }
    if (st.timers.empty())
        return -1;
    const auto first =
        std::min_element(st.timers.begin(), st.timers.end(),
                         [](const timer_rec &a, const timer_rec &b) { return a.due < b.due; });
    return std::max(0.0, first->due - now);
}
