// SPDX-License-Identifier: Apache-2.0
// The wire protocol between the emulated STREAMS backend and llc2sim.
//
// A stream is one SOCK_SEQPACKET connection to llc2sim. Every call of the
// backend is one request message and at most one reply, each an emu_hdr
// followed by hdr.len bytes of body. A reply carries the request's op with
// EMU_REPLY added and the request's seq, so a reply that comes after its
// caller gave up is recognised as stale and dropped. The stream head's read
// queue lives in llc2sim: getmsg asks for what fits and the rest stays there.
//
// Integers are in host byte order; both sides run on the same host.
#ifndef LLC2_PLATFORM_EMU_PROTO_H
#define LLC2_PLATFORM_EMU_PROTO_H

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t EMU_MAGIC = 0x4c32454d; // "L2EM"
inline constexpr std::uint32_t EMU_REPLY = 0x80000000;

// Requests. The meaning of a[] for each, request -> reply:
enum emu_op : std::uint32_t {
    // a0 oflag -> a0 0 or -1, a1 errno, a2 stream id.
    EMU_OPEN = 1,
    // a0 ic_cmd, a1 ic_timout, a2 ic_len, body payload
    //   -> a0 result or -1, a1 errno, a2 answer length, body answer.
    EMU_IOCTL = 2,
    // nothing -> a0 0, a2 stream id, a3/a4 the stream's cookie (low, high).
    EMU_IDENT = 3,
    // a0 lower stream id (-1: not a stream of llc2sim), a1/a2 its cookie
    //   -> a0 link id or -1, a1 errno.
    EMU_LINK = 4,
    // a0 link id -> a0 0 or -1, a1 errno.
    EMU_UNLINK = 5,
    // a0 how (FLUSHR, FLUSHW, FLUSHRW) -> a0 0 or -1, a1 errno.
    EMU_FLUSH = 6,
    // a0 flags, a1 ctl length (-1: none), a2 data length (-1: none),
    // body ctl then data -> a0 0 or -1, a1 errno.
    EMU_PUTMSG = 7,
    // a0 flags (0 or RS_HIPRI), a1 ctl maxlen, a2 data maxlen (-1: part not
    // taken), a3 1 when the caller must not block
    //   -> a0 0, MORECTL|MOREDATA or -1, a1 errno, a2 ctl length, a3 data
    //   length (-1: part absent or not taken), a4 flags, body ctl then data.
    // llc2sim answers when a message is there.
    EMU_GETMSG = 8,
    // a0 poll events -> a0 revents, or -1 and a1 errno when the poll fails.
    // llc2sim answers at once and, when no event holds, once more under the
    // same seq when one does; a newer EMU_POLL replaces an unanswered one.
    EMU_POLL = 9,
};

struct emu_hdr {
    std::uint32_t magic; // EMU_MAGIC
    std::uint32_t op;    // emu_op, with EMU_REPLY in a reply
    std::uint64_t seq;   // chosen by the requester, echoed in the reply
    std::int32_t a[6];   // arguments and results, per op
    std::uint32_t len;   // body bytes after the header
    std::uint32_t reserved;
};

static_assert(sizeof(emu_hdr) == 48);
static_assert(offsetof(emu_hdr, op) == 4);
static_assert(offsetof(emu_hdr, seq) == 8);
static_assert(offsetof(emu_hdr, a) == 16);
static_assert(offsetof(emu_hdr, len) == 40);

// Largest parts a client may send or ask for; larger ones are refused
// (ioctl: EINVAL, putmsg: ERANGE), and a message longer than
// EMU_MAX_MESSAGE is malformed.
inline constexpr int EMU_MAX_IOCTL = 4096;
inline constexpr int EMU_MAX_CTL = 4096;
inline constexpr int EMU_MAX_DATA = 65536;
inline constexpr std::size_t EMU_MAX_MESSAGE = sizeof(emu_hdr) + EMU_MAX_CTL + EMU_MAX_DATA;

// Stream-head waits that have no timeout of their own (open, link, unlink,
// putmsg, flush, and ioctl with ic_timout 0) give up after this long.
inline constexpr int EMU_DEFAULT_TIMEOUT_S = 15;

#endif
