// SPDX-License-Identifier: Apache-2.0
// The emulated STREAMS calls against a running llc2sim.
#include "drv.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using ms = std::chrono::milliseconds;

// Two interfaces of different kinds; each test starts llc2sim on them itself.
constexpr const char two_nics[] = R"({"interfaces": [
        {"name": "xnic", "mac_type": 4, "max_sdu": 1500, "min_sdu": 1, "service_mode": 1,
         "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]},
        {"name": "tnic", "mac_type": 2, "max_sdu": 4000, "min_sdu": 2, "service_mode": 3}]})";

struct streams : ::testing::Test {
    llc2test::SimRoot sim;

    int open_dev(const std::string &name, int oflag = O_RDWR)
    {
        const int fd = stream_open(sim.dev(name).c_str(), oflag);
        if (fd >= 0)
            fds.push_back(fd);
        return fd;
    }
    void TearDown() override
    {
        for (int fd : fds)
            stream_close(fd);
    }
    std::vector<int> fds;
};

TEST_F(streams, plink_setppa_getlink_punlink)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    const int fd = open_dev("llc2");
    const int lower = open_dev("xnic");
    ASSERT_GE(fd, 0);
    ASSERT_GE(lower, 0);

    const int id = stream_link(fd, lower);
    ASSERT_GE(id, 0) << std::strerror(errno);
    ASSERT_EQ(drv_setppa(fd, 2, id, 1), 0) << std::strerror(errno);
    EXPECT_EQ(drv_getlink(fd, 2), id);

    ppa_info info{};
    ASSERT_EQ(drv_getppa(fd, 2, info), 0);
    EXPECT_EQ(info.ppa, 2);
    EXPECT_EQ(info.state, 0);
    EXPECT_EQ(info.id, 1);
    const std::uint8_t mac[6] = {0x02, 0x00, 0x00, 0xa1, 0xb2, 0xc4}; // instance 1
    EXPECT_EQ(std::memcmp(info.mac, mac, 6), 0);

    // A second binding of the same PPA or of the same link is refused.
    const int lower2 = open_dev("xnic");
    const int id2 = stream_link(fd, lower2);
    ASSERT_GE(id2, 0);
    EXPECT_NE(id2, id);
    errno = 0;
    EXPECT_EQ(drv_setppa(fd, 2, id2, 0), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(drv_setppa(fd, 3, id, 0), -1);
    EXPECT_EQ(errno, EBUSY);

    ASSERT_EQ(stream_unlink(fd, id), 0);
    EXPECT_EQ(drv_getppa(fd, 2, info), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(drv_getlink(fd, 2), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(stream_unlink(fd, id), -1);
    EXPECT_EQ(errno, EINVAL);

    // The log shows the request with its exact bytes: PPA 2, command 15,
    // the link, instance 1.
    bool seen = false;
    const std::string want =
        llc2test::hex(llc2test::words({2, 15, static_cast<std::uint32_t>(id), 1}));
    for (const auto &l : sim.log("ioctl"))
        if (l["ic_cmd"] == LLC2_IOC_SETPPA && l["result"] == "ok") {
            EXPECT_EQ(l["payload"], want);
            EXPECT_EQ(l["ic_len"], 16);
            EXPECT_EQ(l["ic_timout"], 10);
            seen = true;
        }
    EXPECT_TRUE(seen);
    const auto links = sim.log("link");
    ASSERT_EQ(links.size(), 2U);
    EXPECT_EQ(links[0]["link_id"], id);
    EXPECT_EQ(links[0]["result"], "ok");
    EXPECT_NE(links[0]["lower_stream"], links[0]["stream"]);
}

TEST_F(streams, link_outlives_the_process_that_made_it)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    const std::string dev = sim.path("dev");
    const pid_t child = fork();
    if (child == 0)
        _exit(plumb(dev, 5, "xnic", 0) >= 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const int fd = open_dev("llc2");
    const int id = drv_getlink(fd, 5);
    ASSERT_GE(id, 0) << std::strerror(errno);
    ppa_info info{};
    EXPECT_EQ(drv_getppa(fd, 5, info), 0);
    EXPECT_EQ(stream_unlink(fd, id), 0);
    EXPECT_EQ(drv_getppa(fd, 5, info), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(streams, plink_takes_only_an_interface_stream)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    const int fd = open_dev("llc2");
    const int other_ctl = open_dev("llc2");
    const std::string file = sim.path("plain");
    std::ofstream(file) << "x";
    const int plain = open(file.c_str(), O_RDWR);
    ASSERT_GE(plain, 0);
    fds.push_back(plain);

    errno = 0;
    EXPECT_EQ(stream_link(fd, plain), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(stream_link(fd, other_ctl), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(stream_link(fd, fd), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(stream_link(fd, 999), -1);
    EXPECT_EQ(errno, EBADF);
    // An interface stream is no multiplexor.
    const int lower = open_dev("xnic");
    const int lower2 = open_dev("xnic");
    EXPECT_EQ(stream_link(lower, lower2), -1);
    EXPECT_EQ(errno, EINVAL);
    // Linked once, a stream is gone from view: a second link is refused.
    ASSERT_GE(stream_link(fd, lower), 0);
    EXPECT_EQ(stream_link(fd, lower), -1);
    EXPECT_EQ(errno, EINVAL);

    // Every refused attempt the driver saw is in the log.
    const auto links = sim.log("link");
    EXPECT_EQ(std::count_if(links.begin(), links.end(),
                            [](const auto &l) { return l["result"] == "EINVAL"; }),
              5);
}

TEST_F(streams, getppa_and_friends_on_unknown_ppas)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    const int fd = open_dev("llc2");
    ppa_info info{};
    errno = 0;
    EXPECT_EQ(drv_getppa(fd, 7, info), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(drv_enable(fd, 7), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(drv_init(fd, 7), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(drv_setppa(fd, 7, 12345, 0), -1);
    EXPECT_EQ(errno, EINVAL);

    // A wrong length or an unknown command is refused as well.
    std::uint8_t small[4] = {};
    EXPECT_EQ(drv_ioctl(fd, LLC2_IOC_GETPPA, small), -1);
    EXPECT_EQ(errno, EINVAL);
    ppa_link rec{};
    EXPECT_EQ(drv_ioctl(fd, 0x1234, rec), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(streams, state_bits_follow_the_requests)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    ASSERT_GE(plumb(sim.path("dev"), 0, "xnic", 0), 0);
    const int fd = open_dev("llc2");
    struct step {
        int (*request)(int, int);
        std::uint8_t state;
    };
    const step steps[] = {
        {drv_enable, 0x01}, {drv_init, 0x05},   {drv_uninit, 0x01},  {drv_disable, 0x00},
        {drv_init, 0x04},   {drv_enable, 0x05}, {drv_disable, 0x04},
    };
    for (const step &s : steps) {
        ASSERT_EQ(s.request(fd, 0), 0);
        ppa_info info{};
        ASSERT_EQ(drv_getppa(fd, 0, info), 0);
        EXPECT_EQ(info.state, s.state);
    }
}

TEST_F(streams, dlpi_attach_info_detach)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    ASSERT_GE(plumb(sim.path("dev"), 1, "tnic", 0), 0);
    const int fd = open_dev("llc2");
    dl_area a{};
    int len = 0;

    ASSERT_EQ(dl_send(fd, DL_ATTACH_REQ, 1), 0);
    pollfd p{fd, POLLPRI, 0};
    ASSERT_EQ(stream_poll(&p, 1, 10000), 1);
    EXPECT_EQ(p.revents, POLLPRI);
    ASSERT_EQ(dl_read(fd, a, &len), 0);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(a[0], DL_OK_ACK);
    EXPECT_EQ(a[1], DL_ATTACH_REQ);

    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    ASSERT_EQ(dl_read(fd, a, &len), 0);
    EXPECT_EQ(len, 76);
    EXPECT_EQ(a[0], DL_INFO_ACK);
    EXPECT_EQ(a[1], 4000U);
    EXPECT_EQ(a[2], 2U);
    EXPECT_EQ(a[4], DL_TPR);
    EXPECT_EQ(a[8], 3U);

    ASSERT_EQ(dl_send(fd, DL_DETACH_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    ASSERT_EQ(dl_read(fd, a), 0);
    EXPECT_EQ(a[0], DL_OK_ACK);
    EXPECT_EQ(a[1], DL_DETACH_REQ);

    // Detached, a second detach is out of state; an unknown PPA is refused.
    ASSERT_EQ(dl_send(fd, DL_DETACH_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    ASSERT_EQ(dl_read(fd, a, &len), 0);
    EXPECT_EQ(len, 16);
    EXPECT_EQ(a[0], DL_ERROR_ACK);
    EXPECT_EQ(a[2], DL_OUTSTATE);
    ASSERT_EQ(dl_send(fd, DL_ATTACH_REQ, 9), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    ASSERT_EQ(dl_read(fd, a), 0);
    EXPECT_EQ(a[0], DL_ERROR_ACK);
    EXPECT_EQ(a[1], DL_ATTACH_REQ);
    EXPECT_EQ(a[2], DL_BADPPA);

    // Nothing is left over, and the putmsg lines name the primitives.
    EXPECT_EQ(dl_wait(fd, 0), 0);
    const auto puts = sim.log("putmsg");
    std::vector<std::uint32_t> prims;
    std::transform(puts.begin(), puts.end(), std::back_inserter(prims),
                   [](const auto &l) { return l["primitive"].template get<std::uint32_t>(); });
    EXPECT_EQ(prims, (std::vector<std::uint32_t>{DL_ATTACH_REQ, DL_INFO_REQ, DL_DETACH_REQ,
                                                 DL_DETACH_REQ, DL_ATTACH_REQ}));
    // DL_ATTACH_REQ (0x0b) for PPA 1.
    EXPECT_EQ(sim.log("putmsg")[0]["ctl"], llc2test::hex(llc2test::words({0x0b, 1})));
}

TEST_F(streams, replies_stay_on_their_own_stream)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    ASSERT_GE(plumb(sim.path("dev"), 0, "xnic", 0), 0);
    const int one = open_dev("llc2");
    const int two = open_dev("llc2");
    ASSERT_EQ(dl_send(one, DL_ATTACH_REQ, 0), 0);
    ASSERT_EQ(dl_wait(one), 1);
    EXPECT_EQ(dl_wait(two, 50), 0);
    // The attachment belongs to the first stream too.
    ASSERT_EQ(dl_send(two, DL_DETACH_REQ), 0);
    dl_area a{};
    ASSERT_EQ(dl_wait(two), 1);
    ASSERT_EQ(dl_read(two, a), 0);
    EXPECT_EQ(a[0], DL_ERROR_ACK);
}

TEST_F(streams, getmsg_leaves_the_rest_at_the_head)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    ASSERT_GE(plumb(sim.path("dev"), 0, "xnic", 0), 0);
    const int fd = open_dev("llc2");
    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    dl_area a{};
    int len = 0;
    ASSERT_EQ(dl_read(fd, a, &len, 8), MORECTL);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(a[0], DL_INFO_ACK);
    EXPECT_EQ(a[2], 0xeeeeeeeeU); // nothing written past maxlen
    // The rest is still a high-priority message at the head.
    ASSERT_EQ(dl_wait(fd, 0), 1);
    ASSERT_EQ(dl_read(fd, a, &len), 0);
    EXPECT_EQ(len, 68);
    EXPECT_EQ(dl_wait(fd, 0), 0);

    // A control part not asked for stays whole.
    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    strbuf none{-1, 0, nullptr};
    int flags = 0;
    EXPECT_EQ(stream_getmsg(fd, &none, nullptr, &flags), MORECTL);
    EXPECT_EQ(none.len, -1);
    ASSERT_EQ(dl_read(fd, a, &len), 0);
    EXPECT_EQ(len, 76);
}

TEST_F(streams, late_answer_is_never_taken_for_a_later_one)
{
    llc2test::SimRoot s2;
    ASSERT_NO_THROW(s2.start_sim_text(R"({"ppas": [{"ppa": 0}],
        "faults": [{"request": "getppa", "ppa": 0, "count": 1, "delay_ms": 1500}]})"));
    const int fd = stream_open(s2.dev("llc2").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
    ppa_info info{};
    const auto t0 = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_EQ(drv_getppa(fd, 0, info, 1), -1);
    EXPECT_EQ(errno, ETIME);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, ms(950));
    // PPA 0's success arrives while this request for PPA 3 waits.
    std::this_thread::sleep_for(ms(300));
    EXPECT_EQ(drv_getppa(fd, 3, info), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(drv_getppa(fd, 0, info), 0);
    EXPECT_EQ(info.ppa, 0);
}

TEST_F(streams, flush_poll_errno_and_a_late_reply)
{
    llc2test::SimRoot s2;
    // The late reply must still be on its way when the flush below reaches
    // llc2sim, some 50 ms after the request: a second leaves room for a slow
    // host, and more for one under emulation.
    const std::string late = std::to_string(1000 * llc2test::time_factor());
    ASSERT_NO_THROW(s2.start_sim_text(R"({"ppas": [{"ppa": 0}],
        "faults": [{"request": "attach", "dlpi": "poll_errno", "errno": "EINTR"},
                   {"request": "info", "dlpi": "long", "extra": 30, "count": 1},
                   {"request": "info", "delay_ms": )" +
                                      late + "}]}"));
    const int fd = stream_open(s2.dev("llc2").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
    dl_area a{};
    int len = 0;

    // The wait fails as the driver said; the reply is there all the same.
    ASSERT_EQ(dl_send(fd, DL_ATTACH_REQ, 0), 0);
    errno = 0;
    EXPECT_EQ(dl_wait(fd), -1);
    EXPECT_EQ(errno, EINTR);
    ASSERT_EQ(dl_wait(fd), 1);
    ASSERT_EQ(dl_read(fd, a), 0);

    // A DL_INFO_ACK of 106 bytes: the fixed part, MORECTL, and the rest flushed.
    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    ASSERT_EQ(dl_wait(fd), 1);
    EXPECT_EQ(dl_read(fd, a, &len), MORECTL);
    EXPECT_EQ(len, 76);
    EXPECT_EQ(a[3], 30U); // dl_addr_length: the address behind the fixed part
    EXPECT_EQ(a[14], 76U);
    ASSERT_EQ(stream_flush(fd, FLUSHRW), 0);
    EXPECT_EQ(dl_wait(fd, 0), 0);

    // Flushed before it comes, a late reply still comes.
    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    EXPECT_EQ(dl_wait(fd, 50), 0);
    ASSERT_EQ(stream_flush(fd, FLUSHRW), 0);
    ASSERT_EQ(dl_wait(fd, 10000 * llc2test::time_factor()), 1);
    ASSERT_EQ(dl_read(fd, a), 0);
    EXPECT_EQ(a[0], DL_INFO_ACK);
}

TEST_F(streams, open_behaves_like_open)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    errno = 0;
    EXPECT_EQ(stream_open((sim.dev("nothing")).c_str(), O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const std::string file = sim.path("plain");
    std::ofstream(file) << "x";
    const int plain = stream_open(file.c_str(), O_RDONLY);
    ASSERT_GE(plain, 0);
    fds.push_back(plain);
    // Not a stream: the STREAMS calls refuse it.
    strioctl sio{LLC2_IOC_GETPPA, 10, 0, nullptr};
    EXPECT_EQ(stream_ioctl(plain, &sio), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(dl_send(plain, DL_INFO_REQ), -1);
    EXPECT_EQ(errno, ENOSTR);

    // A socket node with nobody behind it is a device without its driver.
    const std::string dead = sim.dev("llc2");
    sim.stop_sim();
    const int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(dead.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, dead.c_str(), dead.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(s);
    EXPECT_EQ(stream_open(dead.c_str(), O_RDWR), -1);
    EXPECT_EQ(errno, ENXIO);
}

TEST_F(streams, a_vanished_llc2sim_hangs_up_the_stream)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    const int fd = open_dev("llc2");
    ASSERT_GE(fd, 0);
    sim.stop_sim();
    ppa_info info{};
    errno = 0;
    EXPECT_EQ(drv_getppa(fd, 0, info), -1);
    EXPECT_EQ(errno, ENXIO);
    pollfd p{fd, POLLPRI, 0};
    EXPECT_EQ(stream_poll(&p, 1, 1000), 1);
    EXPECT_EQ(p.revents, POLLHUP);
}

TEST_F(streams, poll_mixes_streams_and_plain_descriptors)
{
    ASSERT_NO_THROW(sim.start_sim_text(two_nics));
    ASSERT_GE(plumb(sim.path("dev"), 0, "xnic", 0), 0);
    const int fd = open_dev("llc2");
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    fds.push_back(pipefd[0]);
    fds.push_back(pipefd[1]);
    pollfd p[3] = {{fd, POLLPRI, 0}, {-1, POLLIN, 0}, {pipefd[0], POLLIN, 0}};
    EXPECT_EQ(stream_poll(p, 3, 50), 0);
    ASSERT_EQ(write(pipefd[1], "x", 1), 1);
    EXPECT_EQ(stream_poll(p, 3, 1000), 1);
    EXPECT_EQ(p[0].revents, 0);
    EXPECT_EQ(p[2].revents, POLLIN);
    ASSERT_EQ(dl_send(fd, DL_INFO_REQ), 0);
    EXPECT_EQ(stream_poll(p, 3, 1000), 2);
    EXPECT_EQ(p[0].revents, POLLPRI);
}

} // namespace
