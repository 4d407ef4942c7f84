// SPDX-License-Identifier: Apache-2.0
// llc2sim's core in-process: the stream head, DLPI states and the faults that
// shape replies, with no socket in between.
#include "core.h"
#include "dlpi.h"
#include "errnames.h"
#include "row_name.h"
#include "sim_fixture.h"
#include "streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

namespace
{

struct reply {
    emu_hdr h{};
    bytes body;
    std::uint32_t word(std::size_t n) const
    {
        std::uint32_t w = 0;
        if (body.size() >= (n + 1) * 4)
            std::memcpy(&w, body.data() + n * 4, 4);
        return w;
    }
};

// A core on a scenario, one control stream open, the log in memory.
struct core {
    sim_state st;
    char *text = nullptr;
    std::size_t text_len = 0;
    std::uint64_t seq = 0;
    int fd = 0;

    explicit core(const std::string &faults, const std::string &ppas = R"({"ppa": 0}, {"ppa": 1})")
    {
        st.log = open_memstream(&text, &text_len);
        load_scenario(st,
                      parse_scenario(R"({"ppas": [)" + ppas + R"(], "faults": [)" + faults + "]}"));
        fd = stream_accepted(st, "llc2", true, 1);
        call(EMU_OPEN, {2});
    }
    ~core()
    {
        std::fclose(st.log);
        std::free(text);
    }
    core(const core &) = delete;
    core &operator=(const core &) = delete;

    // The reply to one request; h.magic is 0 when none came.
    reply call(std::uint32_t op, std::initializer_list<std::int32_t> a, const bytes &body = {})
    {
        emu_hdr h{};
        h.magic = EMU_MAGIC;
        h.op = op;
        h.seq = ++seq;
        std::copy(a.begin(), a.end(), h.a);
        h.len = static_cast<std::uint32_t>(body.size());
        bytes msg(sizeof h);
        std::memcpy(msg.data(), &h, sizeof h);
        msg.insert(msg.end(), body.begin(), body.end());
        handle_message(st, fd, msg);
        reply r;
        for (const outgoing &o : st.outbox) {
            emu_hdr got{};
            std::memcpy(&got, o.frame.data(), sizeof got);
            if (o.stream == fd && got.seq == h.seq) {
                r.h = got;
                r.body.assign(o.frame.begin() + sizeof got, o.frame.end());
            }
        }
        st.outbox.clear();
        return r;
    }
    // putmsg of a DLPI request: its result.
    int send(std::uint32_t prim, std::int32_t ppa = 0)
    {
        bytes ctl(prim == DL_ATTACH_REQ ? 8 : 4);
        std::memcpy(ctl.data(), &prim, 4);
        if (prim == DL_ATTACH_REQ)
            std::memcpy(ctl.data() + 4, &ppa, 4);
        return call(EMU_PUTMSG, {0, static_cast<std::int32_t>(ctl.size()), -1}, ctl).h.a[0];
    }
    // poll for POLLPRI: revents, or -errno when the poll failed.
    int poll() const
    {
        reply r = const_cast<core *>(this)->call(EMU_POLL, {POLLPRI});
        return r.h.a[0] < 0 ? -r.h.a[1] : r.h.a[0];
    }
    // getmsg of 76 control bytes, without blocking.
    reply get(int maxlen = 76) { return call(EMU_GETMSG, {0, maxlen, -1, 1}); }
    void flush() { call(EMU_FLUSH, {FLUSHRW}); }
    // Lets the given seconds pass for the timers.
    void later(double s) { run_timers(st, now_s() + s); }

    std::vector<nlohmann::json> log(const std::string &kind)
    {
        std::fflush(st.log);
        std::vector<nlohmann::json> out;
        std::istringstream in(std::string(text, text_len));
        for (std::string line; std::getline(in, line);)
            if (auto j = nlohmann::json::parse(line); j["kind"] == kind)
                out.push_back(j);
        return out;
    }
};

// Each row: a fault, the primitive it hits (an attach to PPA 0 comes first
// otherwise), and what getmsg then returns.
struct dlpi_row {
    const char *name;
    const char *fault;
    std::uint32_t send;
    int ret;            // of getmsg
    int len;            // control length read, or the errno when ret is -1
    std::uint32_t w[4]; // the first words read (0: not looked at, past w[0])
};

void PrintTo(const dlpi_row &c, std::ostream *os)
{
    *os << c.name;
}

class dlpi_replies : public ::testing::TestWithParam<dlpi_row>
{
};

TEST_P(dlpi_replies, as_faulted)
{
    const dlpi_row &c = GetParam();
    core k(c.fault);
    if (c.send != DL_ATTACH_REQ) {
        ASSERT_EQ(k.send(DL_ATTACH_REQ, 0), 0);
        ASSERT_EQ(k.get().word(0), DL_OK_ACK);
    }
    ASSERT_EQ(k.send(c.send, 0), 0);
    k.later(1);
    ASSERT_EQ(k.poll(), POLLPRI);
    const reply r = k.get();
    ASSERT_EQ(r.h.a[0], c.ret);
    if (c.ret < 0) {
        EXPECT_EQ(r.h.a[1], c.len);
        return;
    }
    EXPECT_EQ(r.h.a[2], c.len);
    for (std::size_t i = 0; i < 4; ++i) {
        if (i == 0 || c.w[i] != 0) {
            EXPECT_EQ(r.word(i), c.w[i]) << "word " << i;
        }
    }
    // What is left goes with a flush.
    k.flush();
    EXPECT_EQ(k.poll(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    sim, dlpi_replies,
    ::testing::Values(
        dlpi_row{"attach_error_ack",
                 R"({"request": "attach", "dlpi": "error_ack"})",
                 DL_ATTACH_REQ,
                 0,
                 16,
                 {DL_ERROR_ACK, DL_ATTACH_REQ, DL_BADPPA, 0}},
        dlpi_row{
            "detach_error_ack_chosen",
            R"({"request": "detach", "dlpi": "error_ack", "dl_errno": 4, "unix_errno": "EIO"})",
            DL_DETACH_REQ,
            0,
            16,
            {DL_ERROR_ACK, DL_DETACH_REQ, DL_SYSERR, EIO}},
        dlpi_row{"info_error_ack",
                 R"({"request": "info", "ppa": 0, "dlpi": "error_ack"})",
                 DL_INFO_REQ,
                 0,
                 16,
                 {DL_ERROR_ACK, DL_INFO_REQ}},
        dlpi_row{"attach_wrong_primitive",
                 R"({"request": "attach", "dlpi": "wrong_primitive"})",
                 DL_ATTACH_REQ,
                 0,
                 76,
                 {DL_INFO_ACK, 1500}},
        dlpi_row{"info_wrong_primitive",
                 R"({"request": "info", "dlpi": "wrong_primitive"})",
                 DL_INFO_REQ,
                 0,
                 8,
                 {DL_OK_ACK, DL_INFO_REQ}},
        dlpi_row{"info_chosen_primitive",
                 R"({"request": "info", "dlpi": "wrong_primitive", "primitive": 5})",
                 DL_INFO_REQ,
                 0,
                 16,
                 {DL_ERROR_ACK}},
        dlpi_row{"attach_long",
                 R"({"request": "attach", "dlpi": "long"})",
                 DL_ATTACH_REQ,
                 MORECTL,
                 76,
                 {DL_OK_ACK, DL_ATTACH_REQ}},
        dlpi_row{"info_long",
                 R"({"request": "info", "dlpi": "long", "extra": 4})",
                 DL_INFO_REQ,
                 MORECTL,
                 76,
                 {DL_INFO_ACK, 1500, 1, 4}},
        dlpi_row{"attach_data",
                 R"({"request": "attach", "dlpi": "data"})",
                 DL_ATTACH_REQ,
                 MOREDATA,
                 8,
                 {DL_OK_ACK}},
        dlpi_row{"info_short",
                 R"({"request": "info", "dlpi": "short"})",
                 DL_INFO_REQ,
                 0,
                 4,
                 {DL_INFO_ACK}},
        dlpi_row{"info_short_20",
                 R"({"request": "info", "dlpi": "short", "length": 20})",
                 DL_INFO_REQ,
                 0,
                 20,
                 {DL_INFO_ACK, 1500}},
        dlpi_row{"info_getmsg_errno",
                 R"({"request": "info", "dlpi": "getmsg_errno", "errno": "EBADMSG"})",
                 DL_INFO_REQ,
                 -1,
                 EBADMSG,
                 {}},
        dlpi_row{"detach_delayed",
                 R"({"request": "detach", "delay_ms": 100})",
                 DL_DETACH_REQ,
                 0,
                 8,
                 {DL_OK_ACK, DL_DETACH_REQ}}),
    llc2test::row_name());

// The wait of each step fails with the errno; the reply still comes.
TEST(core, poll_errno_fails_the_wait_of_each_step)
{
    for (const char *step : {"attach", "info", "detach"}) {
        SCOPED_TRACE(step);
        core k(std::string(R"({"request": ")") + step +
               R"(", "dlpi": "poll_errno", "errno": "EINTR"})");
        for (std::uint32_t prim : {DL_ATTACH_REQ, DL_INFO_REQ, DL_DETACH_REQ}) {
            ASSERT_EQ(k.send(prim, 0), 0);
            const bool hit = (prim == DL_ATTACH_REQ && step[0] == 'a') ||
                             (prim == DL_INFO_REQ && step[0] == 'i') ||
                             (prim == DL_DETACH_REQ && step[0] == 'd');
            EXPECT_EQ(k.poll(), hit ? -EINTR : POLLPRI);
            EXPECT_EQ(k.poll(), POLLPRI); // once only
            EXPECT_EQ(k.get().h.a[0], 0);
        }
        const auto polls = k.log("poll");
        EXPECT_EQ(std::count_if(polls.begin(), polls.end(),
                                [](const auto &l) { return l.value("result", "") == "EINTR"; }),
                  1);
    }
}

TEST(core, stream_head_holds_one_high_priority_message)
{
    core k("");
    ASSERT_EQ(k.send(DL_ATTACH_REQ, 0), 0);
    ASSERT_EQ(k.send(DL_DETACH_REQ), 0); // its DL_OK_ACK finds the attach's waiting
    const auto gone = k.log("discard");
    ASSERT_EQ(gone.size(), 1U);
    EXPECT_EQ(gone[0]["primitive"], DL_OK_ACK);
    // DL_OK_ACK (0x06) for DL_DETACH_REQ (0x0c).
    EXPECT_EQ(gone[0]["ctl"], llc2test::hex(llc2test::words({0x06, 0x0c})));
    EXPECT_EQ(k.get().word(1), DL_ATTACH_REQ);
    EXPECT_EQ(k.poll(), 0);
    // The detach took effect all the same.
    ASSERT_EQ(k.send(DL_DETACH_REQ), 0);
    EXPECT_EQ(k.get().word(2), DL_OUTSTATE);
}

TEST(core, normal_queue_is_bounded)
{
    core k("");
    stream_rec &s = k.st.streams.at(k.fd);
    for (std::size_t i = 0; i < HEAD_MAX_NORMAL + 3; ++i)
        head_put(k.st, s, queued_msg{false, bytes{static_cast<std::uint8_t>(i)}, {}, 0});
    EXPECT_EQ(s.head.normal.size(), HEAD_MAX_NORMAL);
    EXPECT_EQ(k.log("discard").size(), 3U);
    EXPECT_EQ(k.log("discard")[0]["reason"], "read queue full");
    EXPECT_EQ(k.poll(), 0); // no POLLPRI for normal messages
    EXPECT_EQ(k.get().body, bytes{0});
}

// A late reply is the driver's: a flush before it comes does not stop it,
// and the next exchange on the stream meets it.
TEST(core, stale_reply_survives_a_flush)
{
    core k(R"({"request": "info", "delay_ms": 300})");
    ASSERT_EQ(k.send(DL_ATTACH_REQ, 0), 0);
    ASSERT_EQ(k.get().word(0), DL_OK_ACK);
    ASSERT_EQ(k.send(DL_INFO_REQ), 0);
    EXPECT_EQ(k.poll(), 0);
    k.flush();
    k.later(1);
    ASSERT_EQ(k.send(DL_DETACH_REQ), 0);
    EXPECT_EQ(k.poll(), POLLPRI);
    const reply r = k.get();
    EXPECT_EQ(r.word(0), DL_INFO_ACK);
    EXPECT_EQ(r.h.a[2], 76);
    EXPECT_EQ(k.log("discard").at(0)["primitive"], DL_OK_ACK);
}

struct state_row {
    const char *name;
    const char *fault;
    std::vector<std::pair<std::uint32_t, std::int32_t>> sends; // before the last attach
    std::uint32_t dl_errno;                                    // of the last attach, 0: DL_OK_ACK
};

// Attach only from unattached; an unanswered or refused detach leaves the
// stream attached, so the next PPA's attach fails too.
TEST(core, attach_only_from_unattached)
{
    const state_row rows[] = {
        {"fresh", "", {}, 0},
        {"attached", "", {{DL_ATTACH_REQ, 0}}, DL_OUTSTATE},
        {"detached", "", {{DL_ATTACH_REQ, 0}, {DL_DETACH_REQ, 0}}, 0},
        {"detach_noreply",
         R"({"request": "detach", "noreply": true})",
         {{DL_ATTACH_REQ, 0}, {DL_DETACH_REQ, 0}},
         DL_OUTSTATE},
        {"detach_error_ack",
         R"({"request": "detach", "dlpi": "error_ack"})",
         {{DL_ATTACH_REQ, 0}, {DL_DETACH_REQ, 0}},
         DL_OUTSTATE},
        {"attach_late",
         R"({"request": "attach", "count": 1, "delay_ms": 20000})",
         {{DL_ATTACH_REQ, 0}},
         DL_OUTSTATE},
        {"attach_refused",
         R"({"request": "attach", "count": 1, "dlpi": "error_ack"})",
         {{DL_ATTACH_REQ, 0}},
         0},
        {"unknown_ppa", "", {{DL_ATTACH_REQ, 9}}, 0},
    };
    for (const state_row &row : rows) {
        SCOPED_TRACE(row.name);
        core k(row.fault);
        for (const auto &[prim, ppa] : row.sends) {
            ASSERT_EQ(k.send(prim, ppa), 0);
            k.flush();
        }
        ASSERT_EQ(k.send(DL_ATTACH_REQ, 1), 0);
        const reply r = k.get();
        EXPECT_EQ(r.word(0), row.dl_errno != 0 ? DL_ERROR_ACK : DL_OK_ACK);
        if (row.dl_errno != 0) {
            EXPECT_EQ(r.word(2), row.dl_errno);
        }
    }
}

template <typename T> bytes rec_of(const T &rec)
{
    bytes b(sizeof rec);
    std::memcpy(b.data(), &rec, sizeof rec);
    return b;
}

// A request a fault refuses fails with its errno and changes nothing.
TEST(core, refused_requests_change_nothing)
{
    struct row {
        const char *fault;
        std::uint32_t op; // EMU_IOCTL: a0 the command; EMU_PUTMSG: a DLPI primitive
        std::int32_t a0;
        bytes body;
        int err;
    };
    const row rows[] = {
        {R"({"request": "enable", "ppa": 0, "errno": "EBUSY"})", EMU_IOCTL, LLC2_IOC_ENABLE,
         rec_of(ppa_enable{LLC2_ENABLE_ALL, 0, {}}), EBUSY},
        {R"({"request": "disable", "errno": "EPERM"})", EMU_IOCTL, LLC2_IOC_DISABLE,
         rec_of(ppa_disable{0, 0}), EPERM},
        {R"({"request": "init", "errno": "EINVAL"})", EMU_IOCTL, LLC2_IOC_CONTROL,
         rec_of(ctl_init{0, LLC2_CTL_INIT, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}}), EINVAL},
        {R"({"request": "uninit", "errno": "EPROTO"})", EMU_IOCTL, LLC2_IOC_CONTROL,
         rec_of(ctl_uninit{0, LLC2_CTL_UNINIT}), EPROTO},
        {R"({"request": "getlink", "errno": "EIO"})", EMU_IOCTL, LLC2_IOC_GETLINK,
         rec_of(ppa_link{0, LLC2_LINK_CMD, 0, 0}), EIO},
        {R"({"request": "getppa", "ppa": 0, "errno": "EIO"})", EMU_IOCTL, LLC2_IOC_GETPPA,
         rec_of(ppa_info{}), EIO},
        {R"({"request": "setppa", "errno": "EBUSY"})", EMU_IOCTL, LLC2_IOC_SETPPA,
         rec_of(ppa_link{2, LLC2_LINK_CMD, 1, 0}), EBUSY},
        {R"({"request": "punlink", "ppa": 0, "errno": "EBUSY"})", EMU_UNLINK, 1, {}, EBUSY},
        {R"({"request": "attach", "errno": "EAGAIN"})", EMU_PUTMSG, DL_ATTACH_REQ, {}, EAGAIN},
        {R"({"request": "info", "errno": "ENOSR"})", EMU_PUTMSG, DL_INFO_REQ, {}, ENOSR},
        {R"({"request": "detach", "errno": "EIO"})", EMU_PUTMSG, DL_DETACH_REQ, {}, EIO},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.fault);
        core k(r.fault, R"({"ppa": 0, "link_id": 1})");
        k.st.streams.at(k.fd).attached = 0; // so that a detach would take effect
        if (r.op == EMU_PUTMSG) {
            EXPECT_EQ(k.send(static_cast<std::uint32_t>(r.a0), 0), -1);
        } else {
            const auto len = static_cast<std::int32_t>(r.body.size());
            const reply got = k.call(r.op, {r.a0, 10, len}, r.body);
            EXPECT_EQ(got.h.a[0], -1);
            EXPECT_EQ(got.h.a[1], r.err);
        }
        EXPECT_EQ(k.log(r.op == EMU_PUTMSG  ? "putmsg"
                        : r.op == EMU_IOCTL ? "ioctl"
                                            : "unlink")
                      .at(0)["result"],
                  errno_name(r.err));
        EXPECT_EQ(k.st.ppas.size(), 1U);
        EXPECT_EQ(k.st.ppas.at(0).state, 0);
        EXPECT_FALSE(k.st.ppas.at(0).params);
        EXPECT_EQ(k.st.links.size(), 1U);
        EXPECT_EQ(k.st.streams.at(k.fd).attached, std::optional<int>(0));
        EXPECT_EQ(k.poll(), 0); // no reply waits
    }
}

TEST(core, getppa_answers_the_scenarios_number)
{
    core k("", R"({"ppa": 3, "answer_ppa": 7, "state": 4, "id": 9})");
    bytes rec(sizeof(ppa_info), 0);
    rec[0] = 3;
    const reply r = k.call(EMU_IOCTL, {LLC2_IOC_GETPPA, 10, 10}, rec);
    ASSERT_EQ(r.h.a[0], 0);
    ppa_info info{};
    ASSERT_EQ(r.body.size(), sizeof info);
    std::memcpy(&info, r.body.data(), sizeof info);
    EXPECT_EQ(info.ppa, 7);
    EXPECT_EQ(info.state, 4);
    EXPECT_EQ(info.id, 9);
    // Asked for by the number it answers with, it is not there.
    rec[0] = 7;
    EXPECT_EQ(k.call(EMU_IOCTL, {LLC2_IOC_GETPPA, 10, 10}, rec).h.a[1], ENOENT);
}

} // namespace
