// SPDX-License-Identifier: Apache-2.0
// The stream head of each stream: what waits to be read, getmsg, poll and
// I_FLUSH, as the stream head of a STREAMS host behaves for the tool.
#include "errnames.h"
#include "parts.h"
#include "streams.h"

#include <algorithm>

namespace
{

queued_msg *head_front(stream_rec &s)
{
    if (s.head.hipri)
        return &*s.head.hipri;
    return s.head.normal.empty() ? nullptr : &s.head.normal.front();
}

void pop_front(stream_rec &s)
{
    if (s.head.hipri)
        s.head.hipri.reset();
    else
        s.head.normal.pop_front();
}

short head_events(const stream_rec &s)
{
    short ev = POLLOUT | POLLWRNORM;
    if (s.head.hipri)
        ev |= POLLPRI;
    if (!s.head.normal.empty())
        ev |= static_cast<short>(POLLIN | POLLRDNORM);
    return ev;
}

bool eligible(const stream_rec &s, int flags)
{
    return s.head.hipri || (flags != RS_HIPRI && !s.head.normal.empty());
}

// Takes what fits of the first message; the rest stays where it was.
bytes take_message(stream_rec &s, const pending_req &r, line_t &l)
{
    queued_msg &m = *head_front(s);
    if (m.getmsg_errno != 0) {
        const int err = m.getmsg_errno;
        pop_front(s);
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
        pop_front(s);

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
        line_t l = log_line(s.id, s.device, "getmsg");
        l["waited"] = true;
        bytes f = take_message(s, *s.getmsg, l);
        emit(st, l);
        s.getmsg.reset();
        st.outbox.push_back({s.id, std::move(f)});
    }
    if (s.poll) {
        const short ready = static_cast<short>(head_events(s) & s.poll->a[0]);
        if (ready != 0) {
            st.outbox.push_back({s.id, make_frame(EMU_POLL, s.poll->seq, {ready, 0})});
            s.poll.reset();
        }
    }
}

} // namespace

void head_put(sim_state &st, stream_rec &s, queued_msg m)
{
    const char *full = nullptr;
    if (m.hipri && s.head.hipri)
        full = "a high-priority message is waiting";
    else if (!m.hipri && s.head.normal.size() >= HEAD_MAX_NORMAL)
        full = "read queue full";
    if (full != nullptr) {
        line_t l = log_line(s.id, s.device, "discard");
        l["reason"] = full;
        l["ctl"] = m.ctl ? line_t(hex(*m.ctl)) : line_t(nullptr);
        if (m.ctl && m.ctl->size() >= 4)
            l["primitive"] = static_cast<std::uint32_t>(word(*m.ctl, 0));
        emit(st, l);
        return;
    }
    if (m.hipri)
        s.head.hipri = std::move(m);
    else
        s.head.normal.push_back(std::move(m));
    head_changed(st, s);
}

void do_getmsg(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = log_line(s.id, s.device, "getmsg");
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
// is answered again once something comes. A poll the driver made fail
// answers -1 with its errno.
void do_poll(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    line_t l = log_line(s.id, s.device, "poll");
    l["events"] = h.a[0];
    if (s.poll_errno != 0) {
        const int err = s.poll_errno;
        s.poll_errno = 0;
        s.poll.reset();
        l["result"] = errno_name(err);
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_POLL, h.seq, {-1, err})});
        return;
    }
    const short ready = static_cast<short>(head_events(s) & h.a[0]);
    l["revents"] = ready;
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_POLL, h.seq, {ready, 0})});
    if (ready != 0)
        s.poll.reset();
    else
        s.poll = pending_req{h.seq, {h.a[0], 0, 0, 0}};
}

// Only what is at the head now goes: a reply the driver sends later still
// comes. Nothing waits on the write side, which llc2sim serves at once.
void do_flush(sim_state &st, stream_rec &s, const emu_hdr &h)
{
    const int how = h.a[0];
    line_t l = log_line(s.id, s.device, "flush");
    l["how"] = how;
    if (how < FLUSHR || how > FLUSHRW) {
        l["result"] = "EINVAL";
        emit(st, l);
        st.outbox.push_back({s.id, make_frame(EMU_FLUSH, h.seq, {-1, EINVAL})});
        return;
    }
    std::size_t gone = 0;
    if ((how & FLUSHR) != 0) {
        gone = s.head.normal.size() + (s.head.hipri ? 1 : 0);
        s.head = stream_head{};
    }
    l["discarded"] = gone;
    l["result"] = "ok";
    emit(st, l);
    st.outbox.push_back({s.id, make_frame(EMU_FLUSH, h.seq, {0, 0})});
}
