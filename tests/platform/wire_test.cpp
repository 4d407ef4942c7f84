// SPDX-License-Identifier: Apache-2.0
// The records on the wire, byte for byte: built with values and compared
// with what the documented layout says must be at each offset.
#include "dlpi.h"
#include "emu_proto.h"
#include "llc2_driver.h"
#include "row_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace
{

using bytes = std::vector<std::uint8_t>;

template <typename T> bytes raw(const T &rec)
{
    bytes b(sizeof rec);
    std::memcpy(b.data(), &rec, sizeof rec);
    return b;
}

// Expected bytes, written field by field in host order.
struct layout {
    bytes b;
    explicit layout(std::size_t size, std::uint8_t fill = 0) : b(size, fill) {}
    template <typename V> layout &at(std::size_t off, V v)
    {
        std::memcpy(b.data() + off, &v, sizeof v);
        return *this;
    }
};

struct wire_case {
    const char *name;
    std::function<bytes()> built;
    bytes expected;
};

void PrintTo(const wire_case &c, std::ostream *os)
{
    *os << c.name;
}

class wire : public ::testing::TestWithParam<wire_case>
{
};

TEST_P(wire, bytes_match_the_layout)
{
    const wire_case &c = GetParam();
    EXPECT_EQ(c.built(), c.expected);
}

const wire_case cases[] = {
    {"ppa_link",
     [] {
         return raw(ppa_link{3, 15, 7, 1});
     },
     layout(16).at(0, 3).at(4, 15).at(8, 7).at(12, 1).b},
    {"ppa_enable",
     [] {
         ppa_enable e{};
         e.all = LLC2_ENABLE_ALL;
         e.ppa = 9;
         return raw(e);
     },
     layout(44).at(0, -1).at(4, 9).b},
    {"ppa_disable",
     [] {
         return raw(ppa_disable{0, 9});
     },
     layout(8).at(4, 9).b},
    {"ctl_uninit",
     [] {
         return raw(ctl_uninit{4, LLC2_CTL_UNINIT});
     },
     layout(8).at(0, 4).at(4, 0x4C000002U).b},
    {"ctl_init",
     [] {
         ctl_init c{};
         c.ppa = 2;
         c.msg_type = LLC2_CTL_INIT;
         c.acktimer = 0x0102;
         c.polltimer = 0x0304;
         c.rejecttimer = 0x0506;
         c.rembusytimer = 0x0708;
         c.inacttimer = 0x090a;
         c.maxretry = 0x0b0c;
         c.xmitwindowsz = 0x0d0e;
         c.rcvwindowsz = 0x0f10;
         c.timeinterval = 0x1112;
         c.rsptimer = 0x1314;
         return raw(c);
     },
     layout(32)
         .at(0, 2)
         .at(4, 0x4C000001U)
         .at(8, std::uint16_t{0x0102})
         .at(10, std::uint16_t{0x0304})
         .at(12, std::uint16_t{0x0506})
         .at(14, std::uint16_t{0x0708})
         .at(16, std::uint16_t{0x090a})
         .at(18, std::uint16_t{0x0b0c})
         .at(20, std::uint16_t{0x0d0e})
         .at(22, std::uint16_t{0x0f10})
         .at(24, std::uint16_t{0x1112})
         .at(26, std::uint16_t{0x1314})
         .b},
    {"ppa_info",
     [] {
         return raw(ppa_info{0x3f, 0x04, 0xbeef, {2, 0, 0, 0xa1, 0xb2, 0xc3}});
     },
     layout(10)
         .at(0, std::uint8_t{0x3f})
         .at(1, std::uint8_t{0x04})
         .at(2, std::uint16_t{0xbeef})
         .at(4, std::array<std::uint8_t, 6>{2, 0, 0, 0xa1, 0xb2, 0xc3})
         .b},
    {"dl_attach_req",
     [] {
         return raw(dl_attach_req_t{DL_ATTACH_REQ, 5});
     },
     layout(8).at(0, 0x0bU).at(4, 5U).b},
    {"dl_ok_ack",
     [] {
         return raw(dl_ok_ack_t{DL_OK_ACK, DL_ATTACH_REQ});
     },
     layout(8).at(0, 0x06U).at(4, 0x0bU).b},
    {"dl_error_ack",
     [] {
         return raw(dl_error_ack_t{DL_ERROR_ACK, DL_ATTACH_REQ, DL_BADPPA, 0});
     },
     layout(16).at(0, 0x05U).at(4, 0x0bU).at(8, 0x08U).b},
    {"dl_info_ack",
     [] {
         // Each word holds its own index: word n must sit at byte 4n.
         dl_info_ack_t a{};
         t_uscalar_t *fields[] = {&a.dl_primitive,
                                  &a.dl_max_sdu,
                                  &a.dl_min_sdu,
                                  &a.dl_addr_length,
                                  &a.dl_mac_type,
                                  &a.dl_reserved,
                                  &a.dl_current_state,
                                  nullptr,
                                  &a.dl_service_mode,
                                  &a.dl_qos_length,
                                  &a.dl_qos_offset,
                                  &a.dl_qos_range_length,
                                  &a.dl_qos_range_offset,
                                  &a.dl_provider_style,
                                  &a.dl_addr_offset,
                                  &a.dl_version,
                                  &a.dl_brdcst_addr_length,
                                  &a.dl_brdcst_addr_offset,
                                  &a.dl_growth};
         for (std::uint32_t i = 0; i < 19; ++i)
             if (fields[i] != nullptr)
                 *fields[i] = i;
         a.dl_sap_length = 7;
         return raw(a);
     },
     [] {
         layout l(76);
         for (std::uint32_t i = 0; i < 19; ++i)
             l.at(4 * i, i);
         return l.b;
     }()},
    {"emu_hdr",
     [] {
         emu_hdr h{};
         h.magic = EMU_MAGIC;
         h.op = EMU_IOCTL | EMU_REPLY;
         h.seq = 0x0102030405060708ULL;
         for (int i = 0; i < 6; ++i)
             h.a[i] = -1 - i;
         h.len = 44;
         return raw(h);
     },
     [] {
         layout l(48);
         l.at(0, 0x4c32454dU).at(4, 0x80000002U).at(8, 0x0102030405060708ULL).at(40, 44U);
         for (int i = 0; i < 6; ++i)
             l.at(16 + 4 * static_cast<std::size_t>(i), -1 - i);
         return l.b;
     }()},
};

INSTANTIATE_TEST_SUITE_P(records, wire, ::testing::ValuesIn(cases), llc2test::row_name());

} // namespace
