// SPDX-License-Identifier: Apache-2.0
// Every kind of fault a scenario can hold, seen through the platform seam.
#include "core.h"
#include "drv.h"
#include "row_name.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>

namespace
{

using clock_type = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;

// PPA 0 is plumbed on xnic with link 4; tnic is a second interface.
std::string scenario_with(const std::string &faults)
{
    return R"({"interfaces": [{"name": "xnic"}, {"name": "tnic"}],
               "ppas": [{"ppa": 0, "link_id": 4}, {"ppa": 1, "link_id": 5}],
               "faults": [)" +
           faults + "]}";
}

struct ctx {
    llc2test::SimRoot &sim;
    int fd; // a control stream, opened before the case runs

    int open_dev(const char *name) const { return stream_open(sim.dev(name).c_str(), O_RDWR); }
    int new_link(const char *iface) const
    {
        const int lower = open_dev(iface);
        const int id = stream_link(fd, lower);
        stream_close(lower);
        return id;
    }
};

struct refusal {
    const char *name;
    std::string fault;
    std::function<int(ctx &)> call;
    int err;
    std::function<void(ctx &)> after; // what must still hold afterwards
};

void PrintTo(const refusal &c, std::ostream *os)
{
    *os << c.name;
}

class refusals : public ::testing::TestWithParam<refusal>
{
};

TEST_P(refusals, errno_and_no_change)
{
    const refusal &c = GetParam();
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(scenario_with(c.fault)));
    ctx x{sim, stream_open(sim.dev("llc2").c_str(), O_RDWR)};
    ASSERT_GE(x.fd, 0);
    errno = 0;
    EXPECT_EQ(c.call(x), -1);
    EXPECT_EQ(errno, c.err) << std::strerror(errno);
    if (c.after)
        c.after(x);
    stream_close(x.fd);
}

INSTANTIATE_TEST_SUITE_P(
    sim, refusals,
    ::testing::Values(
        // The second open of /dev/llc2 fails once (the setup's open was the first).
        refusal{"nth_open", R"({"request": "open", "device": "llc2", "skip": 1, "count": 1,
                                 "errno": "ENXIO"})",
                [](ctx &x) { return x.open_dev("llc2"); }, ENXIO,
                [](ctx &x) {
                    const int again = x.open_dev("llc2");
                    EXPECT_GE(again, 0);
                    stream_close(again);
                    EXPECT_GE(x.open_dev("xnic"), 0);
                }},
        refusal{"open_interface", R"({"request": "open", "device": "tnic", "errno": 13})",
                [](ctx &x) { return x.open_dev("tnic"); }, EACCES, nullptr},
        refusal{"plink", R"({"request": "plink", "errno": "EPERM"})",
                [](ctx &x) { return x.new_link("xnic"); }, EPERM,
                [](ctx &x) {
                    EXPECT_EQ(x.sim.log("link").at(0)["result"], "EPERM");
                    EXPECT_EQ(x.sim.log("link").at(0)["link_id"], -1);
                    EXPECT_EQ(x.sim.log("link").at(0)["fault"], "errno");
                }},
        refusal{"plink_on_one_device", R"({"request": "plink", "device": "tnic", "errno": "EIO"})",
                [](ctx &x) {
                    EXPECT_GE(x.new_link("xnic"), 0);
                    return x.new_link("tnic");
                },
                EIO, nullptr},
        // A SETPPA never answered binds nothing: the link stays under no PPA,
        // free to be bound.
        refusal{"setppa_noreply", R"({"request": "setppa", "count": 1, "noreply": true})",
                [](ctx &x) {
                    ppa_link rec{2, LLC2_LINK_CMD, x.new_link("xnic"), 0};
                    return drv_ioctl(x.fd, LLC2_IOC_SETPPA, rec, 1);
                },
                ETIME,
                [](ctx &x) {
                    EXPECT_EQ(drv_getlink(x.fd, 2), -1);
                    const int id = x.sim.log("link").back()["link_id"];
                    EXPECT_EQ(drv_setppa(x.fd, 2, id, 0), 0);
                }},
        refusal{"ioctl_noreply", R"({"request": "getppa", "noreply": true})",
                [](ctx &x) {
                    ppa_info info{};
                    return drv_getppa(x.fd, 0, info, 1);
                },
                ETIME, nullptr}),
    llc2test::row_name());

TEST(faults, skip_and_count_pick_which_requests_fail)
{
    // ENABLE of PPA 1 refused four times, then accepted; the second fault lets
    // two pass, refuses one, and only then lets everything through.
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(
        scenario_with(R"({"request": "enable", "ppa": 1, "count": 4, "errno": "EBUSY"},
        {"request": "enable", "ppa": 0, "skip": 2, "count": 1, "errno": "EAGAIN"})")));
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    std::vector<int> one;
    std::vector<int> zero;
    for (int i = 0; i < 6; ++i) {
        errno = 0;
        one.push_back(drv_enable(fd, 1) == 0 ? 0 : errno);
        errno = 0;
        zero.push_back(drv_enable(fd, 0) == 0 ? 0 : errno);
    }
    EXPECT_EQ(one, (std::vector<int>{EBUSY, EBUSY, EBUSY, EBUSY, 0, 0}));
    EXPECT_EQ(zero, (std::vector<int>{0, 0, EAGAIN, 0, 0, 0}));
    ppa_info info{};
    ASSERT_EQ(drv_getppa(fd, 1, info), 0);
    EXPECT_EQ(info.state, LLC2_STATE_ENABLED);
    stream_close(fd);
}

TEST(faults, getppa_errno_ends_a_scan)
{
    std::string ppas;
    for (int i = 0; i < 10; ++i)
        ppas += (i ? ", " : "") + std::string(R"({"ppa": )") + std::to_string(i) + "}";
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(
        sim.start_sim_text(R"({"ppas": [)" + ppas +
                           R"(], "faults": [{"request": "getppa", "ppa": 5, "errno": "ENXIO"}]})"));
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    std::vector<int> found;
    for (int ppa = 0; ppa < LLC2_MAX_PPA; ++ppa) {
        ppa_info info{};
        if (drv_getppa(fd, ppa, info) == 0) {
            found.push_back(info.ppa);
            continue;
        }
        if (errno != ENOENT)
            break;
    }
    EXPECT_EQ(found, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(sim.log("ioctl").back()["result"], "ENXIO");
    stream_close(fd);
}

struct late_row {
    const char *name;
    const char *fault;
    const char *kind; // of the request's log line
    std::function<int(ctx &)> call;
};

// A late answer is awaited, not taken for a lost one; the wait is bounded
// from below only. A late answer to I_PLINK or SETPPA holds a run halfway
// through plumbing a PPA, for a test to kill it there.
TEST(faults, delays_make_answers_late_but_right)
{
    const late_row rows[] = {
        // The setup's open of /dev/llc2 passes; the next one is late.
        {"open", R"({"request": "open", "device": "llc2", "skip": 1, "delay_ms": 200})", "open",
         [](ctx &x) {
             const int fd = x.open_dev("llc2");
             stream_close(fd);
             return fd;
         }},
        {"plink", R"({"request": "plink", "delay_ms": 200})", "link",
         [](ctx &x) { return x.new_link("xnic"); }},
        {"enable", R"({"request": "enable", "delay_ms": 200})", "ioctl",
         [](ctx &x) { return drv_enable(x.fd, 0); }},
        {"setppa", R"({"request": "setppa", "delay_ms": 200})", "ioctl",
         [](ctx &x) { return drv_setppa(x.fd, 2, x.new_link("xnic"), 0); }},
        {"punlink_all", R"({"request": "punlink", "delay_ms": 200})", "unlink",
         [](ctx &x) { return stream_unlink(x.fd, MUXID_ALL); }},
    };
    for (const late_row &row : rows) {
        SCOPED_TRACE(row.name);
        llc2test::SimRoot sim;
        ASSERT_NO_THROW(sim.start_sim_text(scenario_with(row.fault)));
        ctx x{sim, stream_open(sim.dev("llc2").c_str(), O_RDWR)};
        ASSERT_GE(x.fd, 0);
        const auto t0 = clock_type::now();
        EXPECT_GE(row.call(x), 0) << std::strerror(errno);
        EXPECT_GE(clock_type::now() - t0, ms(190));
        auto line = sim.log(row.kind).back(); // a missing field reads null
        EXPECT_EQ(line["result"], "ok");
        EXPECT_EQ(line["delay_ms"], 200);
        EXPECT_EQ(line["fault"], "delay_ms");
        stream_close(x.fd);
    }
}

} // namespace
