// SPDX-License-Identifier: Apache-2.0
// The STREAMS facilities the tool calls, one function per facility. On a host
// with STREAMS each is the system's own call; elsewhere a stream is a
// SOCK_SEQPACKET connection to llc2sim, which plays the driver's part.
//
// Every function returns what the system call it stands for returns and sets
// errno as it would.
#ifndef LLC2_PLATFORM_STREAMS_H
#define LLC2_PLATFORM_STREAMS_H

#include <poll.h>

#if defined(LLC2_NATIVE_STREAMS)
#include <stropts.h>
#else
// The STREAMS records, as <stropts.h> declares them.
struct strioctl {
    int ic_cmd;    // command code
    int ic_timout; // seconds to wait for the answer; the request fails with ETIME after
    int ic_len;    // payload length; the stream head leaves the answer's length here
    char *ic_dp;   // payload, which also receives the answer
};

struct strbuf {
    int maxlen; // room in buf, for getmsg
    int len;    // bytes in buf; -1 in a getmsg answer when the part is absent
    char *buf;
};

inline constexpr int FLUSHR = 1;
inline constexpr int FLUSHW = 2;
inline constexpr int FLUSHRW = 3;
inline constexpr int MORECTL = 1;
inline constexpr int MOREDATA = 2;
inline constexpr int RS_HIPRI = 1;
// I_PUNLINK of every persistent link of the multiplexor, STREAMS' own value;
// llc2sim reads it so. A C library header read before this one may have it.
#ifndef MUXID_ALL
inline constexpr int MUXID_ALL = -1;
#endif
#endif

// Opens a device as open(2) does: a STREAMS device (in emulation, a socket of
// llc2sim) becomes a stream; any other file is simply opened. -1 with errno.
int stream_open(const char *path, int oflag);

// Closes what stream_open opened. 0, or -1 with errno.
int stream_close(int fd);

// ioctl(fd, I_STR, sio): sends sio->ic_len bytes of sio->ic_dp as request
// sio->ic_cmd and waits at most sio->ic_timout seconds for the answer, which
// is copied back into ic_dp (at most the request's length) with its length in
// ic_len. On success the driver's return value (0 or more); -1 with errno
// (ETIME when no answer came in time).
int stream_ioctl(int fd, strioctl *sio);

// ioctl(fd, I_PLINK, lower): links lower beneath the multiplexor fd,
// persistently. The link identifier (0 or more), or -1 with errno.
int stream_link(int fd, int lower);

// ioctl(fd, I_PUNLINK, link_id): removes a persistent link; MUXID_ALL removes
// every persistent link of the multiplexor, whichever stream made it. 0, or -1
// with errno.
int stream_unlink(int fd, int link_id);

// ioctl(fd, I_FLUSH, how): discards what is queued in the directions asked
// for (FLUSHR, FLUSHW, FLUSHRW). 0, or -1 with errno.
int stream_flush(int fd, int how);

// putmsg(2): sends a control part and/or a data part as one message (flags 0:
// normal priority, RS_HIPRI: high). 0, or -1 with errno.
int stream_putmsg(int fd, const strbuf *ctl, const strbuf *data, int flags);

// getmsg(2): takes the first message of the stream. 0 when it was taken whole;
// MORECTL and/or MOREDATA when a part did not fit and its rest stays at the
// head of the stream; -1 with errno.
int stream_getmsg(int fd, strbuf *ctl, strbuf *data, int *flags);

// poll(2) over streams: POLLPRI reports a high-priority message at the head
// of the stream, POLLIN any message. The count of ready entries, 0 on time
// out, -1 with errno.
int stream_poll(pollfd *fds, nfds_t nfds, int timeout_ms);

#endif
