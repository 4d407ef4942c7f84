// SPDX-License-Identifier: Apache-2.0
// The ten parameters of ctl_init as the driver receives them.
#include "init_params.h"

#include <array>
#include <gtest/gtest.h>

namespace
{

struct Row {
    int configured;
    std::array<std::uint16_t, 10> sent; // ack poll rej rembusy inact retry xmit rcv ti rsp
};

TEST(InitParams, CutToSixteenBitsWithDefaultsOnTheCutValue)
{
    const Row rows[] = {
        {0, {2, 4, 6, 8, 30, 6, 14, 14, 0, 2}},
        {65536, {2, 4, 6, 8, 30, 6, 14, 14, 0, 2}},
        {65537, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {70000, {4464, 4464, 4464, 4464, 4464, 4464, 4464, 4464, 4464, 4464}},
        {65535, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
        {-1, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.configured);
        std::array<int, CONF_NPARAMS> params{};
        params.fill(row.configured);
        const ctl_init init = make_ctl_init(7, params.data());
        EXPECT_EQ(init.ppa, 7);
        EXPECT_EQ(init.msg_type, LLC2_CTL_INIT);
        const std::array<std::uint16_t, 10> got{
            init.acktimer, init.polltimer,    init.rejecttimer, init.rembusytimer, init.inacttimer,
            init.maxretry, init.xmitwindowsz, init.rcvwindowsz, init.timeinterval, init.rsptimer};
        EXPECT_EQ(got, row.sent);
    }
}

TEST(InitParams, EachFieldTakesItsOwnKeyword)
{
    // Distinct values per index: a field fed from the wrong index shows.
    std::array<int, CONF_NPARAMS> params{};
    for (int i = 0; i < CONF_NPARAMS; ++i)
        params[static_cast<std::size_t>(i)] = 100 + i;
    const ctl_init init = make_ctl_init(0, params.data());
    EXPECT_EQ(init.acktimer, 103);
    EXPECT_EQ(init.polltimer, 105);
    EXPECT_EQ(init.rejecttimer, 106);
    EXPECT_EQ(init.rembusytimer, 107);
    EXPECT_EQ(init.inacttimer, 108);
    EXPECT_EQ(init.maxretry, 109);
    EXPECT_EQ(init.xmitwindowsz, 110);
    EXPECT_EQ(init.rcvwindowsz, 111);
    EXPECT_EQ(init.timeinterval, 102);
    EXPECT_EQ(init.rsptimer, 104);
}

} // namespace
