// SPDX-License-Identifier: Apache-2.0
// DLPI on the driver's control streams: attach, information and detach, with
// the provider's states and primitives, and the replies a fault reshapes.
#include "dlpi.h"
#include "errnames.h"
#include "parts.h"

#include <algorithm>
#include <cstddef>

namespace
{

constexpr t_uscalar_t DL_BADPRIM = 0x09;
constexpr std::uint32_t fixed_part = sizeof(dl_info_ack_t);

queued_msg proto_reply(bytes ctl)
{
    queued_msg m;
    m.hipri = true; // DLPI acknowledgements are M_PCPROTO
    m.ctl = std::move(ctl);
    return m;
}

queued_msg error_ack(t_uscalar_t prim, t_uscalar_t dl_errno, t_uscalar_t unix_errno)
{
    return proto_reply(to_bytes(dl_error_ack_t{DL_ERROR_ACK, prim, dl_errno, unix_errno}));
}

queued_msg ok_ack(t_uscalar_t prim)
{
    return proto_reply(to_bytes(dl_ok_ack_t{DL_OK_ACK, prim}));
}

queued_msg info_ack(const sim_state &st, std::optional<int> ppa)
{
    dl_info_ack_t a{};
    a.dl_primitive = DL_INFO_ACK;
    a.dl_current_state = DL_UNATTACHED;
    a.dl_provider_style = DL_STYLE2;
    a.dl_version = DL_VERSION_2;
    auto p = ppa ? st.ppas.find(*ppa) : st.ppas.end();
    if (p != st.ppas.end()) {
        a.dl_max_sdu = p->second.dlpi.max_sdu;
        a.dl_min_sdu = p->second.dlpi.min_sdu;
        a.dl_mac_type = p->second.dlpi.mac_type;
        a.dl_service_mode = p->second.dlpi.service_mode;
        a.dl_current_state = DL_UNBOUND;
    }
    return proto_reply(to_bytes(a));
}

// The provider's own answer. An attach is valid only on an unattached
// stream, a detach only on an attached one; an information request in any
// state. With apply false the stream's state stays as it was.
queued_msg dlpi_answer(sim_state &st, stream_rec &s, t_uscalar_t prim,
                       std::span<const std::uint8_t> ctl, bool apply)
{
    if (!s.control)
        return error_ack(prim, DL_BADPRIM, 0);
    switch (prim) {
    case DL_ATTACH_REQ: {
        if (ctl.size() < sizeof(dl_attach_req_t))
            return error_ack(prim, DL_BADPRIM, 0);
        if (s.attached)
            return error_ack(prim, DL_OUTSTATE, 0);
        const int ppa = word(ctl, 1);
        if (st.ppas.count(ppa) == 0)
            return error_ack(prim, DL_BADPPA, 0);
        if (apply)
            s.attached = ppa;
        return ok_ack(prim);
    }
    case DL_INFO_REQ:
        if (s.attached && st.ppas.count(*s.attached) == 0)
            return error_ack(prim, DL_BADPPA, 0);
        return info_ack(st, s.attached);
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

// Bytes behind a reply: the PPA's MAC over and over, else 0, 1, 2, ...
bytes filler(const sim_state &st, std::optional<int> ppa, std::size_t n)
{
    bytes b(n, 0);
    auto p = ppa ? st.ppas.find(*ppa) : st.ppas.end();
    for (std::size_t i = 0; i < n; ++i)
        b[i] = p != st.ppas.end() ? p->second.mac[i % 6] : static_cast<std::uint8_t>(i);
    return b;
}

// The reply as a fault makes it, or the provider's own.
queued_msg reply_for(sim_state &st, stream_rec &s, t_uscalar_t prim,
                     std::span<const std::uint8_t> ctl, const verdict &v, std::optional<int> ppa)
{
    const fault_action act = v.f != nullptr ? v.f->action : fault_action::delay;
    if (act == fault_action::error_ack)
        return error_ack(prim, v.f->dl_errno, v.f->unix_errno);
    if (act == fault_action::wrong_primitive) {
        const t_uscalar_t p =
            v.f->primitive.value_or(prim == DL_INFO_REQ ? DL_OK_ACK : DL_INFO_ACK);
        if (p == DL_INFO_ACK)
            return info_ack(st, ppa);
        if (p == DL_ERROR_ACK)
            return error_ack(prim, DL_BADPPA, 0);
        return proto_reply(to_bytes(dl_ok_ack_t{p, prim}));
    }
    queued_msg reply = dlpi_answer(st, s, prim, ctl, v.apply);
    const std::size_t extra = v.f != nullptr ? static_cast<std::size_t>(v.f->extra) : 0;
    switch (act) {
    case fault_action::long_reply: {
        bytes &c = *reply.ctl;
        c.resize(std::max<std::size_t>(c.size(), fixed_part), 0);
        const bytes tail = filler(st, ppa, extra);
        c.insert(c.end(), tail.begin(), tail.end());
        // An info ack that is longer carries an address behind its fixed part.
        if (word(c, 0) == static_cast<std::int32_t>(DL_INFO_ACK)) {
            const auto alen = static_cast<std::uint32_t>(extra);
            std::memcpy(c.data() + offsetof(dl_info_ack_t, dl_addr_length), &alen, 4);
            std::memcpy(c.data() + offsetof(dl_info_ack_t, dl_addr_offset), &fixed_part, 4);
        }
        break;
    }
    case fault_action::data_part:
        reply.data = filler(st, ppa, extra);
        break;
    case fault_action::short_reply:
        reply.ctl->resize(std::min(reply.ctl->size(), static_cast<std::size_t>(v.f->length)));
        break;
    case fault_action::getmsg_errno:
        reply.getmsg_errno = v.f->err;
        break;
    case fault_action::poll_errno:
        s.poll_errno = v.f->err;
        break;
    default:
        break;
    }
    return reply;
}

} // namespace

void do_putmsg(sim_state &st, stream_rec &s, const emu_hdr &h, std::span<const std::uint8_t> body)
{
    std::optional<bytes> ctl;
    std::optional<bytes> data;
    const auto clen = static_cast<std::size_t>(std::max(h.a[1], 0));
    if (h.a[1] >= 0)
        ctl = bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(clen));
    if (h.a[2] >= 0)
        data = bytes(body.begin() + static_cast<std::ptrdiff_t>(clen), body.end());

    line_t l = log_line(s.id, s.device, "putmsg");
    l["ctl"] = ctl ? line_t(hex(*ctl)) : line_t(nullptr);
    l["data"] = data ? line_t(hex(*data)) : line_t(nullptr);
    l["flags"] = h.a[0];
    std::optional<t_uscalar_t> prim;
    if (ctl && ctl->size() >= 4) {
        prim = static_cast<t_uscalar_t>(word(*ctl, 0));
        l["primitive"] = *prim;
    }

    std::optional<req_kind> kind;
    std::optional<int> ppa = s.attached;
    if (prim == DL_ATTACH_REQ) {
        kind = req_kind::attach;
        ppa = ctl->size() >= sizeof(dl_attach_req_t) ? std::optional(word(*ctl, 1)) : std::nullopt;
    } else if (prim == DL_INFO_REQ) {
        kind = req_kind::info;
    } else if (prim == DL_DETACH_REQ) {
        kind = req_kind::detach;
    }
    verdict v;
    if (kind) {
        l["request"] = req_kind_name(*kind);
        v = judge(st, *kind, ppa, s.device, l);
    }
    // A refused putmsg sends nothing down.
    l["result"] = result_name(v.err != 0 ? -1 : 0, v.err);
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_PUTMSG, h.seq, {v.err != 0 ? -1 : 0, v.err})});
    // A message without a control part carries no primitive: nothing answers it.
    if (v.err != 0 || !prim || !v.answer)
        return;
    queued_msg reply = reply_for(st, s, *prim, *ctl, v, ppa);
    // The request took effect now; only its reply is late.
    if (v.delay_ms > 0)
        st.timers.push_back({now_s() + v.delay_ms / 1000.0, s.id, std::nullopt, std::move(reply)});
    else
        head_put(st, s, std::move(reply));
}
