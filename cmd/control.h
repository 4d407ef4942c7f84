// SPDX-License-Identifier: Apache-2.0
// The control stream of the llc2 driver: opening /dev/llc2 and sending one
// driver request (an I_STR ioctl) through it. Every operation that talks to
// the driver goes through these two, so every request is framed alike.
#ifndef LLC2_CMD_CONTROL_H
#define LLC2_CMD_CONTROL_H

#include <type_traits>

// The control device, before LLC2_ROOT is put in front of it.
inline constexpr const char *LLC2_CONTROL_DEVICE = "/dev/llc2";

// Opens /dev/llc2 read-write. The descriptor, or -1 after writing
// "Cannot open LLC2 device: %s\n" to standard error (errno kept).
int llc2_open_control(void);

// Sends request cmd with len bytes of payload, which also receives the
// driver's answer. All four strioctl fields are filled afresh for every call,
// with the timeout of LLC2_IOC_TIMEOUT seconds. What ioctl returned: 0 or more
// on success, -1 with errno on failure (ETIME when the driver did not answer).
// A driver that has left one request of the run unanswered is sent nothing
// more: every request after that fails at once with ETIME, so that a hung
// driver costs a run one wait, whatever the number of PPAs.
int llc2_request(int fd, int cmd, void *payload, int len);

// I_PLINK of lower beneath fd and I_PUNLINK of link_id, by the same rule:
// the link identifier or 0, -1 with errno; ETIME without sending once the
// driver has stopped answering.
int llc2_link(int fd, int lower);
int llc2_unlink(int fd, int link_id);

// No request of this run has gone unanswered (ETIME).
bool driver_answering(void);

// The same for a payload record, whose size is the request's length.
template <typename Record> int llc2_request(int fd, int cmd, Record &payload)
{
    static_assert(std::is_trivially_copyable_v<Record>, "a wire record is plain bytes");
    return llc2_request(fd, cmd, &payload, static_cast<int>(sizeof(Record)));
}

// Why the driver left a request unanswered (ETIME).
const char *unanswered_reason(void);

// Why the driver cannot be asked about a PPA: its number is beyond what
// GETPPA carries.
const char *unaskable_reason(void);

// Why a request failed with err: unanswered_reason() for ETIME, otherwise
// strerror's text.
const char *reason_of(int err);

// Closes a control stream when the holder goes out of scope, so that an
// early return cannot leak it.
struct control_stream {
    int fd = -1;
    control_stream() = default;
    explicit control_stream(int d) : fd(d) {}
    control_stream(const control_stream &) = delete;
    control_stream &operator=(const control_stream &) = delete;
    ~control_stream() { close(); }
    // Closes now; the holder is empty afterwards. 0, or -1 with errno.
    int close();
};

// Closes ctl and, unless the driver has stopped answering, opens the control
// device into it anew, so that initialising never depends on the plumbing
// stream. false after llc2_open_control's message (errno kept, ctl empty);
// true otherwise, ctl empty when the driver stopped answering: it is sent
// nothing more anyway.
bool reopen_control(control_stream &ctl);

#endif
