// SPDX-License-Identifier: Apache-2.0
// The driver's I_STR requests on its control stream, and the links beneath it.
#include "dlpi.h"
#include "parts.h"
#include "streams.h"

#include <algorithm>

namespace
{

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

answer echo(std::span<const std::uint8_t> body)
{
    return {0, 0, bytes(body.begin(), body.end())};
}

// Sets or clears state bits of a PPA that exists.
answer set_state(sim_state &st, int ppa, std::uint8_t bits, bool on,
                 std::span<const std::uint8_t> body)
{
    auto p = st.ppas.find(ppa);
    if (p == st.ppas.end())
        return refused(ENXIO);
    if (on)
        p->second.state |= bits;
    else
        p->second.state &= static_cast<std::uint8_t>(~bits);
    return echo(body);
}

answer do_enable(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ppa_enable>(body);
    if (rec.all != LLC2_ENABLE_ALL)
        return refused(EINVAL);
    return set_state(st, rec.ppa, LLC2_STATE_ENABLED, true, body);
}

answer do_disable(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ppa_disable>(body);
    if (rec.all != 0)
        return refused(EINVAL);
    return set_state(st, rec.ppa, LLC2_STATE_ENABLED, false, body);
}

answer do_getppa(sim_state &st, std::span<const std::uint8_t> body)
{
    auto p = st.ppas.find(body[0]);
    if (p == st.ppas.end())
        return refused(ENOENT);
    ppa_info rec{};
    rec.ppa = p->second.answer_ppa.value_or(static_cast<std::uint8_t>(p->second.ppa));
    rec.state = p->second.state;
    rec.id = p->second.id;
    std::memcpy(rec.mac, p->second.mac.data(), sizeof rec.mac);
    return {0, 0, to_bytes(rec)};
}

answer do_init(sim_state &st, std::span<const std::uint8_t> body)
{
    const auto rec = read_rec<ctl_init>(body);
    answer a = set_state(st, rec.ppa, LLC2_STATE_UP, true, body);
    if (a.ret == 0)
        st.ppas[rec.ppa].params = rec;
    return a;
}

answer do_uninit(sim_state &st, std::span<const std::uint8_t> body)
{
    return set_state(st, read_rec<ctl_uninit>(body).ppa, LLC2_STATE_UP, false, body);
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
    p.id = static_cast<std::uint16_t>(st.next_id++);
    p.mac = mac_for(st, p.device, p.instance);
    if (const iface_conf *ic = find_iface(st, p.device))
        p.dlpi = ic->dlpi;
    st.ppas[p.ppa] = p;
    l->second.ppa = p.ppa;
    return echo(body);
}

using effect_fn = answer (*)(sim_state &, std::span<const std::uint8_t>);

// A driver request: what it is called, how long its payload is, which word
// holds its PPA (-1: the first byte), and for LLC2_IOC_CONTROL the msg_type.
struct request_def {
    req_kind kind;
    int cmd;
    std::size_t len;
    int ppa_word;
    std::uint32_t msg_type;
    effect_fn effect;
};

const request_def requests[] = {
    {req_kind::enable, LLC2_IOC_ENABLE, sizeof(ppa_enable), 1, 0, do_enable},
    {req_kind::disable, LLC2_IOC_DISABLE, sizeof(ppa_disable), 1, 0, do_disable},
    {req_kind::getppa, LLC2_IOC_GETPPA, sizeof(ppa_info), -1, 0, do_getppa},
    {req_kind::init, LLC2_IOC_CONTROL, sizeof(ctl_init), 0, LLC2_CTL_INIT, do_init},
    {req_kind::uninit, LLC2_IOC_CONTROL, sizeof(ctl_uninit), 0, LLC2_CTL_UNINIT, do_uninit},
    {req_kind::getlink, LLC2_IOC_GETLINK, sizeof(ppa_link), 0, 0, do_getlink},
    {req_kind::setppa, LLC2_IOC_SETPPA, sizeof(ppa_link), 0, 0, do_setppa},
};

const request_def *find_request(int cmd, std::span<const std::uint8_t> body)
{
    for (const request_def &r : requests)
        if (r.cmd == cmd && r.len == body.size() &&
            (r.msg_type == 0 || static_cast<std::uint32_t>(word(body, 1)) == r.msg_type))
            return &r;
    return nullptr;
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

} // namespace

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

void do_ioctl(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body)
{
    line_t l = log_line(s.id, s.device, "ioctl");
    l["ic_cmd"] = h.a[0];
    l["ic_timout"] = h.a[1];
    l["ic_len"] = h.a[2];
    l["payload"] = hex(body);

    // Unknown command, wrong length, or not the driver's stream: EINVAL.
    const request_def *r = s.control ? find_request(h.a[0], body) : nullptr;
    answer a = refused(EINVAL);
    verdict v;
    if (r != nullptr) {
        const int ppa =
            r->ppa_word < 0 ? body[0] : word(body, static_cast<std::size_t>(r->ppa_word));
        l["request"] = req_kind_name(r->kind);
        l["ppa"] = ppa;
        v = judge(st, r->kind, ppa, s.device, l);
        a = v.err != 0 ? refused(v.err) : v.apply ? r->effect(st, body) : answer{};
    }
    conclude(st, s.id, l, v, a.ret, a.err,
             make_frame(EMU_IOCTL, h.seq, {a.ret, a.err, static_cast<std::int32_t>(a.body.size())},
                        a.body));
}

void do_link(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    const int lower_id = h.a[0];
    const std::uint64_t cookie =
        static_cast<std::uint32_t>(h.a[1]) |
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(h.a[2])) << 32);
    line_t l = log_line(s.id, s.device, "link");
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
    verdict v;
    if (valid) {
        v = judge(st, req_kind::plink, std::nullopt, lower_dev, l);
        if (v.err != 0) {
            a = refused(v.err);
        } else if (v.apply) {
            const int id = alloc_link(st);
            st.links[id] = link_rec{id, lower_dev, lower_id, std::nullopt};
            lower->second.linked = true;
            a = {id, 0, {}};
        }
    }
    l["link_id"] = v.apply && a.ret >= 0 ? a.ret : -1;
    conclude(st, s.id, l, v, a.ret, a.err, make_frame(EMU_LINK, h.seq, {a.ret, a.err}));
}

void do_unlink(sim_state &st, const stream_rec &s, const emu_hdr &h)
{
    const int id = h.a[0];
    line_t l = log_line(s.id, s.device, "unlink");
    l["link_id"] = id;

    answer a = refused(EINVAL);
    verdict v;
    std::size_t gone = 0;
    auto link = st.links.find(id);
    if (s.control && (id == MUXID_ALL || link != st.links.end())) {
        v = judge(st, req_kind::punlink, link != st.links.end() ? link->second.ppa : std::nullopt,
                  s.device, l);
        a = v.err != 0 ? refused(v.err) : answer{};
        // MUXID_ALL: every persistent link of the driver, whichever control
        // stream made it, bound to a PPA or not.
        if (v.apply && id == MUXID_ALL) {
            gone = st.links.size();
            while (!st.links.empty())
                remove_link(st, st.links.begin()->first);
        } else if (v.apply) {
            remove_link(st, id);
            gone = 1;
        }
    }
    l["unlinked"] = gone;
    conclude(st, s.id, l, v, a.ret, a.err, make_frame(EMU_UNLINK, h.seq, {a.ret, a.err}));
}
