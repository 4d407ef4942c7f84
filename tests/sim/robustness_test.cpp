// SPDX-License-Identifier: Apache-2.0
// llc2sim against clients that break the protocol or die mid-exchange: each
// is logged as "bad" and dropped, and the driver state stays as it was.
#include "drv.h"
#include "emu_proto.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;
using llc2test::raw_connect;

bytes frame(std::uint32_t op, std::initializer_list<std::int32_t> a, std::size_t body = 0,
            std::uint32_t magic = EMU_MAGIC)
{
    emu_hdr h{};
    h.magic = magic;
    h.op = op;
    h.seq = 1;
    std::size_t i = 0;
    for (const std::int32_t v : a)
        h.a[i++] = v;
    h.len = static_cast<std::uint32_t>(body);
    bytes b(sizeof h + body, 0x5a);
    std::memcpy(b.data(), &h, sizeof h);
    return b;
}

// Waits until llc2sim closes the connection: true when it did.
bool dropped(int fd)
{
    std::vector<char> buf(EMU_MAX_MESSAGE);
    for (int i = 0; i < 100; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
    }
    return false;
}

struct garbage {
    const char *name;
    bool open_first;
    std::function<bytes()> message;
};

const char scenario[] = R"({"ppas": [{"ppa": 0, "state": 5, "id": 9, "link_id": 4}]})";

// The PPA table seen from a fresh client is the scenario's.
void expect_table_intact(const llc2test::SimRoot &sim)
{
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ppa_info info{};
    EXPECT_EQ(drv_getppa(fd, 0, info), 0);
    EXPECT_EQ(info.state, 5);
    EXPECT_EQ(info.id, 9);
    EXPECT_EQ(drv_getlink(fd, 0), 4);
    for (int ppa = 1; ppa < 4; ++ppa) {
        EXPECT_EQ(drv_getppa(fd, ppa, info), -1);
        EXPECT_EQ(errno, ENOENT);
    }
    stream_close(fd);
}

TEST(robustness, malformed_messages_are_logged_and_dropped)
{
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(scenario));
    std::mt19937 rng(12345);
    const garbage cases[] = {
        {"random bytes", false,
         [&] {
             bytes b(200);
             for (auto &c : b)
                 c = static_cast<std::uint8_t>(rng());
             return b;
         }},
        {"truncated header", false, [] { return bytes(20, 0); }},
        {"truncated header after open", true,
         [] {
             bytes b = frame(EMU_IOCTL, {LLC2_IOC_GETPPA, 10, 10}, 10);
             b.resize(30);
             return b;
         }},
        {"bad magic", false, [] { return frame(EMU_OPEN, {2}, 0, 0x12345678); }},
        {"length says more than follows", true,
         [] {
             bytes b = frame(EMU_IOCTL, {LLC2_IOC_GETPPA, 10, 10}, 10);
             b.resize(b.size() - 4);
             return b;
         }},
        {"oversize message", true,
         [] {
             return frame(EMU_PUTMSG, {0, -1, 70000}, EMU_MAX_MESSAGE + 100 - 48);
         }},
        {"oversize ioctl", true,
         [] {
             return frame(EMU_IOCTL, {1, 10, 99999}, 99999 % 4096);
         }},
        {"negative ioctl length", true,
         [] {
             return frame(EMU_IOCTL, {1, 10, -5});
         }},
        {"putmsg parts do not add up", true,
         [] {
             return frame(EMU_PUTMSG, {0, 8, 8}, 8);
         }},
        {"getmsg maxlen out of range", true,
         [] {
             return frame(EMU_GETMSG, {0, 1 << 30, -1});
         }},
        {"request before open", false,
         [] {
             return frame(EMU_IOCTL, {1, 10, 0});
         }},
        {"second open", true, [] { return frame(EMU_OPEN, {2}); }},
        {"unknown request", true, [] { return frame(77, {}); }},
        {"a reply sent as a request", true, [] { return frame(EMU_POLL | EMU_REPLY, {1}); }},
        {"body on a bodiless request", true, [] { return frame(EMU_FLUSH, {3}, 12); }},
    };
    std::size_t bad_lines = 0;
    for (const garbage &g : cases) {
        SCOPED_TRACE(g.name);
        const int fd = raw_connect(sim.dev("llc2"));
        ASSERT_GE(fd, 0);
        if (g.open_first) {
            const bytes open = frame(EMU_OPEN, {2});
            ASSERT_EQ(send(fd, open.data(), open.size(), 0), static_cast<ssize_t>(open.size()));
        }
        const bytes msg = g.message();
        ASSERT_EQ(send(fd, msg.data(), msg.size(), 0), static_cast<ssize_t>(msg.size()));
        EXPECT_TRUE(dropped(fd));
        close(fd);
        ++bad_lines;
        EXPECT_TRUE(sim.wait_log([&](const auto &) { return sim.log("bad").size() >= bad_lines; }));
    }
    EXPECT_EQ(sim.log("bad").size(), std::size(cases));
    for (const auto &l : sim.log("bad"))
        EXPECT_FALSE(l.value("reason", "").empty());
    expect_table_intact(sim);
}

TEST(robustness, killed_clients_leave_state_consistent)
{
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(scenario));
    const std::string dev = sim.path("dev");
    // Each child stops at a different point of an exchange and is killed there.
    const std::function<void()> children[] = {
        [&] { // blocked in getmsg with nothing to read
            const int fd = stream_open((dev + "/llc2").c_str(), O_RDWR);
            dl_area a{};
            dl_read(fd, a);
        },
        [&] { // attached, never detaches
            const int fd = stream_open((dev + "/llc2").c_str(), O_RDWR);
            dl_send(fd, DL_ATTACH_REQ, 0);
            pause();
        },
        [&] { // a link made, never bound
            const int fd = stream_open((dev + "/llc2").c_str(), O_RDWR);
            const int lower = stream_open((dev + "/xnic").c_str(), O_RDWR);
            stream_link(fd, lower);
            pause();
        },
        [&] { // a request sent, its answer never read
            const int fd = raw_connect(dev + "/llc2");
            const bytes open = frame(EMU_OPEN, {2});
            send(fd, open.data(), open.size(), 0);
            for (int i = 0; i < 200; ++i) {
                const bytes req = frame(EMU_POLL, {POLLPRI});
                send(fd, req.data(), req.size(), 0);
            }
            pause();
        },
    };
    std::vector<pid_t> pids;
    for (const auto &child : children) {
        const pid_t pid = fork();
        if (pid == 0) {
            child();
            pause();
            _exit(0);
        }
        pids.push_back(pid);
    }
    // Wait until every child got as far as it goes, then kill them all.
    EXPECT_TRUE(sim.wait_log([&](const auto &) {
        return sim.log("getmsg").size() >= 1 && sim.log("link").size() >= 1 &&
               sim.log("putmsg").size() >= 1 && sim.log("poll").size() >= 200;
    }));
    for (const pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(sim.wait_log([&](const auto &) { return sim.log("close").size() >= 5; }));
    // The one blocked in getmsg is remembered as having vanished.
    bool vanished = false;
    for (const auto &l : sim.log("bad"))
        vanished |= l.value("reason", "").find("getmsg") != std::string::npos;
    EXPECT_TRUE(vanished);

    expect_table_intact(sim);
    // The unbound link is still there and can be bound or removed.
    const auto links = sim.log("link");
    ASSERT_EQ(links.size(), 1U);
    const int id = links[0]["link_id"];
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    EXPECT_EQ(drv_setppa(fd, 1, id, 0), 0);
    EXPECT_EQ(drv_getlink(fd, 1), id);
    EXPECT_EQ(stream_unlink(fd, id), 0);
    stream_close(fd);
}

TEST(robustness, many_clients_at_once)
{
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(scenario));
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
            if (fd < 0)
                return;
            int ok = 0;
            for (int i = 0; i < 50; ++i) {
                ppa_info info{};
                ok += drv_getppa(fd, (t + i) % 2, info) == 0 && info.id == 9 ? 1 : 0;
            }
            stream_close(fd);
            if (ok == 25)
                ++good;
        });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(good.load(), 16);
    EXPECT_EQ(sim.log("ioctl").size(), 16U * 50U);
}

} // namespace
