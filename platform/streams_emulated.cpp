// SPDX-License-Identifier: Apache-2.0
// STREAMS emulated over SOCK_SEQPACKET connections to llc2sim (emu_proto.h).
//
// The tool process keeps no state per descriptor: every call is a request
// with a fresh sequence number and waits for the reply that echoes it. The
// stream head's read queue, the PPA attachment and everything else live in
// llc2sim, so a descriptor can be passed around, inherited or closed at any
// moment like a real stream.
#include "emu_proto.h"
#include "streams.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace
{

using steady = std::chrono::steady_clock;

// No deadline: the call blocks until answered, as a blocking getmsg does.
constexpr int wait_forever = -1;

// Sequence numbers count up per process, with the process id above them so
// that a parent and a child sharing a stream never use the same one: a late
// reply never matches a later request.
std::uint64_t new_seq()
{
    static std::atomic<std::uint32_t> counter{0};
    return (static_cast<std::uint64_t>(getpid()) << 32) | ++counter;
}

enum class kind { bad, stream, other };

// A stream of llc2sim is a connected Unix seqpacket socket; anything else
// that is open is a plain file (or some other descriptor).
kind classify(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) != 0)
        return kind::bad;
    if (!S_ISSOCK(st.st_mode))
        return kind::other;
    int type = 0;
    int domain = 0;
    socklen_t len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return kind::other;
    len = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0)
        return kind::other;
    return (type == SOCK_SEQPACKET && domain == AF_UNIX) ? kind::stream : kind::other;
}

// errno for a descriptor that is not a stream; ioctls say ENOTTY, the
// message calls ENOSTR.
int need_stream(int fd, int not_stream_errno)
{
    switch (classify(fd)) {
    case kind::stream:
        return 0;
    case kind::bad:
        return EBADF;
    case kind::other:
        break;
    }
    return not_stream_errno;
}

int remaining_ms(steady::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// A test may make every stream-head wait short (LLC2_EMU_WAIT_MS, in
// milliseconds), so that a driver that never answers costs it a moment
// rather than the real seconds; the tool's own waits are unchanged. Only the
// emulated backend reads it: a real host's stream head has its own.
int capped_wait(int timeout_ms)
{
    const char *text = std::getenv("LLC2_EMU_WAIT_MS");
    if (text == nullptr || timeout_ms < 0)
        return timeout_ms;
    const char *end = text + std::strlen(text);
    int cap = 0;
    const auto [stop, ec] = std::from_chars(text, end, cap, 10);
    // Anything else is a typo in a test, not a reason to wait less.
    if (ec != std::errc() || stop != end || stop == text || cap < 0)
        return timeout_ms;
    return std::min(timeout_ms, cap);
}

steady::time_point deadline_after(int timeout_ms)
{
    timeout_ms = capped_wait(timeout_ms);
    return timeout_ms < 0 ? steady::time_point::max()
                          : steady::now() + std::chrono::milliseconds(timeout_ms);
}

// Throws away replies left over from earlier calls that gave up waiting.
void drain_stale(int fd)
{
    std::vector<char> buf(EMU_MAX_MESSAGE);
    while (recv(fd, buf.data(), buf.size(), MSG_DONTWAIT) > 0) {
    }
}

struct part {
    const void *p;
    std::size_t len;
};

// One request message: header and up to two body parts. 0, or an errno.
int send_request(int fd, emu_hdr &h, part a = {nullptr, 0}, part b = {nullptr, 0})
{
    h.magic = EMU_MAGIC;
    h.len = static_cast<std::uint32_t>(a.len + b.len);
    iovec iov[3] = {
        {&h, sizeof h}, {const_cast<void *>(a.p), a.len}, {const_cast<void *>(b.p), b.len}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 3;
    for (;;) {
        if (sendmsg(fd, &msg, MSG_NOSIGNAL) >= 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A stream opened O_NONBLOCK: the socket is, the stream head is not.
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) < 0 && errno != EINTR)
                return errno;
            continue;
        }
        // The other end is gone: a hung-up stream.
        if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)
            return ENXIO;
        return errno;
    }
}

// Waits for the reply to request seq of kind op. 0, or an errno: ETIME when
// the deadline passed, ENXIO when llc2sim went away, EPROTO for a reply that
// is not one.
int await_reply(int fd, std::uint64_t seq, std::uint32_t op, steady::time_point deadline,
                emu_hdr &out, std::vector<char> &body)
{
    std::vector<char> buf(EMU_MAX_MESSAGE);
    for (;;) {
        const int wait = deadline == steady::time_point::max() ? -1 : remaining_ms(deadline);
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ETIME;
        const ssize_t got = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return ENXIO;
        }
        if (got == 0)
            return ENXIO;
        if (static_cast<std::size_t>(got) < sizeof(emu_hdr))
            return EPROTO;
        emu_hdr h{};
        std::memcpy(&h, buf.data(), sizeof h);
        if (h.magic != EMU_MAGIC || h.len != static_cast<std::size_t>(got) - sizeof h)
            return EPROTO;
        if (h.seq != seq || h.op != (op | EMU_REPLY))
            continue; // stale: the answer to a call that gave up
        out = h;
        body.assign(buf.begin() + sizeof h, buf.begin() + got);
        return 0;
    }
}

// Request and reply in one. 0 with the reply, or an errno.
int call(int fd, emu_hdr &req, steady::time_point deadline, emu_hdr &rep, std::vector<char> &body,
         part a = {nullptr, 0}, part b = {nullptr, 0})
{
    drain_stale(fd);
    req.seq = new_seq();
    if (const int err = send_request(fd, req, a, b); err != 0)
        return err;
    return await_reply(fd, req.seq, req.op, deadline, rep, body);
}

int fail(int err)
{
    errno = err;
    return -1;
}

// The usual ending: the reply's a0 is the result, a1 the errno.
int result_of(const emu_hdr &rep)
{
    if (rep.a[0] < 0)
        return fail(rep.a[1] > 0 ? rep.a[1] : EIO);
    return rep.a[0];
}

int simple_call(int fd, emu_op op, std::int32_t a0, std::int32_t a1 = 0, std::int32_t a2 = 0)
{
    emu_hdr req{};
    req.op = op;
    req.a[0] = a0;
    req.a[1] = a1;
    req.a[2] = a2;
    emu_hdr rep{};
    std::vector<char> body;
    if (const int err = call(fd, req, deadline_after(EMU_DEFAULT_TIMEOUT_S * 1000), rep, body);
        err != 0)
        return fail(err);
    return result_of(rep);
}

int connect_stream(const char *path, int oflag)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t len = std::strlen(path);
    if (len >= sizeof addr.sun_path)
        return fail(ENAMETOOLONG);
    std::memcpy(addr.sun_path, path, len + 1);

    const int flags = SOCK_SEQPACKET | ((oflag & O_CLOEXEC) != 0 ? SOCK_CLOEXEC : 0);
    const int s = socket(AF_UNIX, flags, 0);
    if (s < 0)
        return -1;
    auto give_up = [s](int err) {
        close(s);
        return fail(err);
    };
    if (connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        // A node without a live llc2sim behind it: a device without a driver.
        return give_up(errno == ECONNREFUSED ? ENXIO : errno);

    emu_hdr req{};
    req.op = EMU_OPEN;
    req.a[0] = oflag;
    emu_hdr rep{};
    std::vector<char> body;
    if (const int err = call(s, req, deadline_after(EMU_DEFAULT_TIMEOUT_S * 1000), rep, body);
        err != 0)
        return give_up(err);
    if (rep.a[0] < 0)
        return give_up(rep.a[1] > 0 ? rep.a[1] : EIO);
    if ((oflag & O_NONBLOCK) != 0 && fcntl(s, F_SETFL, O_NONBLOCK) != 0)
        return give_up(errno);
    return s;
}

// Clamps a getmsg maxlen: -1 (or a null strbuf) leaves the part alone.
std::int32_t want(const strbuf *b, int limit)
{
    if (b == nullptr || b->maxlen < 0)
        return -1;
    return std::min(b->maxlen, limit);
}

} // namespace

int stream_open(const char *path, int oflag)
{
    if (path == nullptr)
        return fail(EFAULT);
    struct stat st {
    };
    if (stat(path, &st) == 0 && S_ISSOCK(st.st_mode))
        return connect_stream(path, oflag);
    return open(path, oflag, 0666);
}

int stream_close(int fd)
{
    return close(fd);
}

int stream_ioctl(int fd, strioctl *sio)
{
    if (sio == nullptr)
        return fail(EFAULT);
    if (const int err = need_stream(fd, ENOTTY); err != 0)
        return fail(err);
    if (sio->ic_len < 0 || sio->ic_len > EMU_MAX_IOCTL || sio->ic_timout < -1)
        return fail(EINVAL);
    if (sio->ic_len > 0 && sio->ic_dp == nullptr)
        return fail(EFAULT);

    int timeout_ms = wait_forever;
    if (sio->ic_timout == 0)
        timeout_ms = EMU_DEFAULT_TIMEOUT_S * 1000;
    else if (sio->ic_timout > 0)
        timeout_ms = sio->ic_timout >= (1 << 30) / 1000 ? (1 << 30) : sio->ic_timout * 1000;

    emu_hdr req{};
    req.op = EMU_IOCTL;
    req.a[0] = sio->ic_cmd;
    req.a[1] = sio->ic_timout;
    req.a[2] = sio->ic_len;
    emu_hdr rep{};
    std::vector<char> body;
    if (const int err = call(fd, req, deadline_after(timeout_ms), rep, body,
                             {sio->ic_dp, static_cast<std::size_t>(sio->ic_len)});
        err != 0)
        return fail(err);
    if (rep.a[0] < 0)
        return result_of(rep);
    if (rep.a[2] < 0 || static_cast<std::size_t>(rep.a[2]) != body.size())
        return fail(EPROTO);
    // The answer goes back into the caller's payload, never past its length.
    const std::size_t n = std::min(body.size(), static_cast<std::size_t>(sio->ic_len));
    if (n > 0)
        std::memcpy(sio->ic_dp, body.data(), n);
    sio->ic_len = static_cast<int>(n);
    return rep.a[0];
}

int stream_link(int fd, int lower)
{
    if (const int err = need_stream(fd, ENOTTY); err != 0)
        return fail(err);
    // Only a stream of llc2sim can go beneath the driver; llc2sim itself
    // refuses anything else (and logs the attempt), so it gets asked anyway.
    std::int32_t id = -1;
    std::int32_t cookie_lo = 0;
    std::int32_t cookie_hi = 0;
    switch (classify(lower)) {
    case kind::bad:
        return fail(EBADF);
    case kind::other:
        break;
    case kind::stream: {
        emu_hdr req{};
        req.op = EMU_IDENT;
        emu_hdr rep{};
        std::vector<char> body;
        if (call(lower, req, deadline_after(EMU_DEFAULT_TIMEOUT_S * 1000), rep, body) == 0 &&
            rep.a[0] >= 0) {
            id = rep.a[2];
            cookie_lo = rep.a[3];
            cookie_hi = rep.a[4];
        }
        break;
    }
    }
    return simple_call(fd, EMU_LINK, id, cookie_lo, cookie_hi);
}

int stream_unlink(int fd, int link_id)
{
    if (const int err = need_stream(fd, ENOTTY); err != 0)
        return fail(err);
    return simple_call(fd, EMU_UNLINK, link_id);
}

int stream_flush(int fd, int how)
{
    if (const int err = need_stream(fd, ENOTTY); err != 0)
        return fail(err);
    if (how != FLUSHR && how != FLUSHW && how != FLUSHRW)
        return fail(EINVAL);
    return simple_call(fd, EMU_FLUSH, how);
}

int stream_putmsg(int fd, const strbuf *ctl, const strbuf *data, int flags)
{
    if (const int err = need_stream(fd, ENOSTR); err != 0)
        return fail(err);
    const bool has_ctl = ctl != nullptr && ctl->len >= 0;
    const bool has_data = data != nullptr && data->len >= 0;
    if ((ctl != nullptr && ctl->len < -1) || (data != nullptr && data->len < -1))
        return fail(EINVAL);
    if (flags != 0 && flags != RS_HIPRI)
        return fail(EINVAL);
    if (flags == RS_HIPRI && !has_ctl)
        return fail(EINVAL);
    if ((has_ctl && ctl->len > EMU_MAX_CTL) || (has_data && data->len > EMU_MAX_DATA))
        return fail(ERANGE);
    if ((has_ctl && ctl->len > 0 && ctl->buf == nullptr) ||
        (has_data && data->len > 0 && data->buf == nullptr))
        return fail(EFAULT);
    if (!has_ctl && !has_data)
        return 0; // nothing to send, as putmsg(2) does

    emu_hdr req{};
    req.op = EMU_PUTMSG;
    req.a[0] = flags;
    req.a[1] = has_ctl ? ctl->len : -1;
    req.a[2] = has_data ? data->len : -1;
    emu_hdr rep{};
    std::vector<char> body;
    const part c{has_ctl ? ctl->buf : nullptr, has_ctl ? static_cast<std::size_t>(ctl->len) : 0};
    const part d{has_data ? data->buf : nullptr,
                 has_data ? static_cast<std::size_t>(data->len) : 0};
    if (const int err =
            call(fd, req, deadline_after(EMU_DEFAULT_TIMEOUT_S * 1000), rep, body, c, d);
        err != 0)
        return fail(err);
    return result_of(rep) < 0 ? -1 : 0;
}

int stream_getmsg(int fd, strbuf *ctl, strbuf *data, int *flags)
{
    if (flags == nullptr)
        return fail(EFAULT);
    if (const int err = need_stream(fd, ENOSTR); err != 0)
        return fail(err);
    if (*flags != 0 && *flags != RS_HIPRI)
        return fail(EINVAL);
    const std::int32_t ctl_max = want(ctl, EMU_MAX_CTL);
    const std::int32_t data_max = want(data, EMU_MAX_DATA);
    if ((ctl_max > 0 && ctl->buf == nullptr) || (data_max > 0 && data->buf == nullptr))
        return fail(EFAULT);
    const int fl = fcntl(fd, F_GETFL);

    emu_hdr req{};
    req.op = EMU_GETMSG;
    req.a[0] = *flags;
    req.a[1] = ctl_max;
    req.a[2] = data_max;
    req.a[3] = (fl >= 0 && (fl & O_NONBLOCK) != 0) ? 1 : 0;
    emu_hdr rep{};
    std::vector<char> body;
    if (const int err = call(fd, req, deadline_after(wait_forever), rep, body); err != 0)
        return fail(err);
    if (rep.a[0] < 0)
        return result_of(rep);

    // Never trust the lengths: each must fit what was asked for and the body.
    const std::int32_t clen = rep.a[2];
    const std::int32_t dlen = rep.a[3];
    if (clen < -1 || dlen < -1 || (clen > 0 && clen > ctl_max) || (dlen > 0 && dlen > data_max) ||
        static_cast<std::size_t>(std::max(clen, 0)) + static_cast<std::size_t>(std::max(dlen, 0)) !=
            body.size())
        return fail(EPROTO);
    if (ctl != nullptr) {
        ctl->len = clen;
        if (clen > 0)
            std::memcpy(ctl->buf, body.data(), static_cast<std::size_t>(clen));
    }
    if (data != nullptr) {
        data->len = dlen;
        if (dlen > 0)
            std::memcpy(data->buf, body.data() + std::max(clen, 0), static_cast<std::size_t>(dlen));
    }
    *flags = rep.a[4];
    return rep.a[0];
}

int stream_poll(pollfd *fds, nfds_t nfds, int timeout_ms)
{
    if (nfds > 0 && fds == nullptr)
        return fail(EFAULT);
    // Each stream asks llc2sim, which answers at once with what holds now and,
    // when that is nothing, once more under the same seq when something
    // comes. Other descriptors are polled as they are.
    std::vector<std::uint64_t> seqs(nfds, 0);
    std::vector<bool> is_stream(nfds, false);
    for (nfds_t i = 0; i < nfds; ++i) {
        fds[i].revents = 0;
        if (fds[i].fd < 0)
            continue;
        const kind k = classify(fds[i].fd);
        if (k == kind::bad) {
            fds[i].revents = POLLNVAL;
            continue;
        }
        if (k != kind::stream)
            continue;
        is_stream[i] = true;
        emu_hdr req{};
        req.op = EMU_POLL;
        req.a[0] = fds[i].events;
        emu_hdr rep{};
        std::vector<char> body;
        const int err =
            call(fds[i].fd, req, deadline_after(EMU_DEFAULT_TIMEOUT_S * 1000), rep, body);
        seqs[i] = req.seq;
        if (err == ENXIO)
            fds[i].revents = POLLHUP;
        else if (err != 0)
            fds[i].revents = POLLERR;
        else if (rep.a[0] < 0)
            return fail(rep.a[1] > 0 ? rep.a[1] : EIO); // the wait itself failed
        else
            fds[i].revents =
                static_cast<short>(rep.a[0] & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
    }

    const auto deadline = deadline_after(timeout_ms);
    std::vector<pollfd> sys(nfds);
    std::vector<char> buf(EMU_MAX_MESSAGE);
    for (;;) {
        int ready = 0;
        for (nfds_t i = 0; i < nfds; ++i)
            ready += fds[i].revents != 0 ? 1 : 0;
        for (nfds_t i = 0; i < nfds; ++i)
            sys[i] = {is_stream[i] && fds[i].revents != 0 ? -1 : fds[i].fd,
                      is_stream[i] ? static_cast<short>(POLLIN) : fds[i].events, 0};
        // Once something is ready, only look whether the rest is too.
        const int wait = ready > 0 ? 0 : timeout_ms < 0 ? -1 : remaining_ms(deadline);
        const int n = poll(sys.data(), nfds, wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        for (nfds_t i = 0; i < nfds; ++i) {
            if (sys[i].fd < 0 || sys[i].revents == 0)
                continue;
            if (!is_stream[i]) {
                fds[i].revents = sys[i].revents;
                continue;
            }
            for (;;) {
                const ssize_t got = recv(fds[i].fd, buf.data(), buf.size(), MSG_DONTWAIT);
                if (got == 0 ||
                    (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    fds[i].revents = POLLHUP;
                    break;
                }
                if (got < 0)
                    break;
                emu_hdr h{};
                if (static_cast<std::size_t>(got) < sizeof h)
                    continue;
                std::memcpy(&h, buf.data(), sizeof h);
                if (h.magic == EMU_MAGIC && h.seq == seqs[i] && h.op == (EMU_POLL | EMU_REPLY))
                    fds[i].revents =
                        static_cast<short>(h.a[0] & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
            }
        }
        ready = 0;
        for (nfds_t i = 0; i < nfds; ++i)
            ready += fds[i].revents != 0 ? 1 : 0;
        if (ready > 0 || n == 0)
            return ready;
    }
}
