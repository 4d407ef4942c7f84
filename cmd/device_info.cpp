// SPDX-License-Identifier: Apache-2.0
// The DLPI exchange behind the Type, MaxSDU, MinSDU and Mode columns of the
// status table: attach the table's control stream to the PPA, ask for its
// information, detach. The stream serves the next PPA afterwards,
// so every path that may have left a reply behind flushes it.
#include "device_info.h"

#include "dlpi_reply.h"

#include "dlpi.h"
#include "llc2_debug.h"
#include "streams.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <libintl.h>

namespace
{

// Each request is built in, and each reply read into, one area the size of
// the largest reply we read: the fixed part of a DL_INFO_ACK.
constexpr int DLPI_AREA_SIZE = sizeof(dl_info_ack_t);
static_assert(DLPI_AREA_SIZE == 76);

struct msg_area {
    alignas(t_uscalar_t) std::array<char, DLPI_AREA_SIZE> bytes{};
    bool unanswered = false; // a wait ran out without a reply
};

// How long each reply may take.
constexpr int DLPI_WAIT_MS = 10000;

// Sends req from the area as a normal-priority message, waits for the
// high-priority reply and reads it into the area, then checks that it is
// expect and at least min_size bytes long. The area holds zeros past the
// reply, so nothing read from it can be a stale byte.
template <typename Request>
dlpi_reply dlpi_exchange(int fd, msg_area &area, const Request &req, t_uscalar_t expect,
                         int min_size)
{
    static_assert(sizeof(Request) <= DLPI_AREA_SIZE);
    std::memcpy(area.bytes.data(), &req, sizeof req);
    strbuf ctl{};
    ctl.buf = area.bytes.data();
    ctl.maxlen = ctl.len = static_cast<int>(sizeof req);
    if (stream_putmsg(fd, &ctl, nullptr, 0) < 0)
        return {dlpi_fault::send, 0, 0};

    pollfd pfd{fd, POLLPRI, 0};
    const int ready = stream_poll(&pfd, 1, DLPI_WAIT_MS);
    area.unanswered = area.unanswered || ready == 0;
    if (ready <= 0)
        return {dlpi_fault::wait, 0, 0};

    area.bytes.fill(0);
    ctl.maxlen = DLPI_AREA_SIZE;
    ctl.len = 0;
    int flags = 0;
    const int rc = stream_getmsg(fd, &ctl, nullptr, &flags);
    if (rc < 0)
        return {dlpi_fault::read, 0, 0};
    return dlpi_check_reply(area.bytes.data(), ctl.len, rc, expect, min_size);
}

void discard_queued(int fd)
{
    (void)stream_flush(fd, FLUSHRW);
}

void trace_send_failed()
{
    if (debug > 0)
        std::fprintf(stderr, "device_info: putmsg(): %s\n", std::strerror(errno));
}

void trace_no_answer(int ppa)
{
    if (debug > 0)
        std::fprintf(stderr, "device_info: PPA (%d) not responding\n", ppa);
}

// Attaches the stream to ppa. Whatever went wrong, the stream is flushed and
// no detach follows: we cannot tell whether the attach took.
bool attach(int ppa, int fd, msg_area &area)
{
    const dl_attach_req_t req{DL_ATTACH_REQ, static_cast<t_uscalar_t>(ppa)};
    const dlpi_reply r = dlpi_exchange(fd, area, req, DL_OK_ACK, PRIMITIVE_SIZE);
    if (r.fault == dlpi_fault::none && r.more == 0)
        return true;
    if (debug > 0) {
        // A reply that did not fit is a bad read before it is a wrong one.
        if (r.fault == dlpi_fault::send)
            trace_send_failed();
        else if (r.fault == dlpi_fault::wait)
            trace_no_answer(ppa);
        else if (r.more != 0 || r.fault == dlpi_fault::read || r.fault == dlpi_fault::length)
            std::fprintf(stderr, "device_info: getmsg(DL_ATTACH_REQ): %s\n", std::strerror(errno));
        else
            std::fprintf(stderr, "device_info: wrong reply primitive: %lx\n",
                         static_cast<unsigned long>(r.primitive));
    }
    discard_queued(fd);
    return false;
}

// Asks for the attached PPA's information into ack. A reply longer than the
// fixed part leaves its rest queued, which goes before the detach.
bool info(int ppa, int fd, msg_area &area, dl_info_ack_t &ack)
{
    const dl_info_req_t req{DL_INFO_REQ};
    const dlpi_reply r = dlpi_exchange(fd, area, req, DL_INFO_ACK, INFO_ACK_SIZE);
    switch (r.fault) {
    case dlpi_fault::send:
        trace_send_failed();
        return false;
    case dlpi_fault::wait:
        trace_no_answer(ppa);
        return false;
    case dlpi_fault::read:
        if (debug > 0)
            std::fprintf(stderr, "device_info: getmsg(DL_INFO_REQ): %s\n", std::strerror(errno));
        return false;
    default:
        break;
    }
    if (r.more != 0)
        discard_queued(fd);
    if (r.fault != dlpi_fault::none)
        return false;
    std::memcpy(&ack, area.bytes.data(), sizeof ack);
    return true;
}

// Detaches the stream. Any reply ends it, unexamined: a DL_ERROR_ACK means
// the stream is not attached, which is what we want.
void detach(int ppa, int fd, msg_area &area)
{
    const dl_detach_req_t req{DL_DETACH_REQ};
    const dlpi_reply r = dlpi_exchange(fd, area, req, DL_OK_ACK, 0);
    switch (r.fault) {
    case dlpi_fault::send:
        trace_send_failed();
        break;
    case dlpi_fault::wait:
        trace_no_answer(ppa);
        break;
    case dlpi_fault::read:
        break;
    default:
        return;
    }
    discard_queued(fd);
}

} // namespace

const char *medium_word(std::uint32_t mac_type)
{
    switch (mac_type) {
    case DL_CSMACD:
        return "csma/cd";
    case DL_TPR:
        return "tkn-ring";
    case DL_ETHER:
        return "ethernet";
    case DL_FDDI:
        return "fddi";
    default:
        return nullptr;
    }
}

void print_device_info(const dlpi_facts &facts)
{
    const char *word = medium_word(facts.mac_type);
    std::printf("%7s %6lu %6lu %4lx ", word != nullptr ? word : gettext("unknown"),
                static_cast<unsigned long>(facts.max_sdu),
                static_cast<unsigned long>(facts.min_sdu),
                static_cast<unsigned long>(facts.service_mode));
}

int get_device_info(int ppa, int fd, dlpi_facts &facts, bool *unanswered)
{
    msg_area area;
    bool known = attach(ppa, fd, area);
    if (known) {
        dl_info_ack_t ack{};
        known = info(ppa, fd, area, ack);
        if (known)
            facts = {ack.dl_mac_type, ack.dl_max_sdu, ack.dl_min_sdu, ack.dl_service_mode};
        // A driver that left the info unanswered is asked nothing more, not
        // even the detach: closing the stream detaches it all the same.
        if (!area.unanswered)
            detach(ppa, fd, area);
    }
    if (unanswered != nullptr)
        *unanswered = area.unanswered;
    if (known)
        return 0;
    errno = area.unanswered ? ETIME : EPROTO;
    return -1;
}
