// SPDX-License-Identifier: Apache-2.0
// A request that llc2sim never answers fails after the full ic_timout.
#include "drv.h"
#include "emu_proto.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

TEST(streams_slow, silence_is_etime_after_ic_timout)
{
    llc2test::SimRoot sim;
    ASSERT_NO_THROW(sim.start_sim_text(R"({"ppas": [{"ppa": 0}],
        "faults": [{"request": "getppa", "ppa": 0, "count": 1, "noreply": true}]})"));
    const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ppa_info info{};
    const auto t0 = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_EQ(drv_getppa(fd, 0, info), -1);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(errno, ETIME);
    EXPECT_GE(waited, std::chrono::milliseconds(9950));
    // It was ic_timout that ran out, not the stream head's own wait for
    // requests that carry none, five seconds longer.
    EXPECT_LT(waited, std::chrono::seconds(EMU_DEFAULT_TIMEOUT_S));
    // The fault fired once; the stream still works.
    EXPECT_EQ(drv_getppa(fd, 0, info), 0);
    stream_close(fd);
    const auto lines = sim.log("ioctl");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0]["result"], "noreply");
}
