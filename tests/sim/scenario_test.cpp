// SPDX-License-Identifier: Apache-2.0
// Reading scenarios, in-process.
#include "core.h"
#include "row_name.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

namespace
{

struct bad_case {
    const char *name;
    const char *json;
    const char *says; // part of the message
};

void PrintTo(const bad_case &c, std::ostream *os)
{
    *os << c.name << ": " << c.json << " -> " << c.says;
}

class bad_scenario : public ::testing::TestWithParam<bad_case>
{
};

TEST_P(bad_scenario, refused)
{
    try {
        parse_scenario(GetParam().json);
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().says), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    sim, bad_scenario,
    ::testing::Values(
        bad_case{"not_json", "{", "not JSON"}, bad_case{"not_an_object", "[]", "must be an object"},
        bad_case{"unknown_top_key", R"({"interface": []})", "unknown key \"interface\""},
        bad_case{"interfaces_not_array", R"({"interfaces": {}})", "must be an array"},
        bad_case{"nameless_interface", R"({"interfaces": [{"mac_type": 4}]})", "\"name\""},
        bad_case{"slash_in_name", R"({"interfaces": [{"name": "a/b"}]})", "bad interface name"},
        bad_case{"interface_named_llc2", R"({"interfaces": [{"name": "llc2"}]})",
                 "bad interface name"},
        bad_case{"interface_twice", R"({"interfaces": [{"name": "a"}, {"name": "a"}]})",
                 "given twice"},
        bad_case{"bad_mac", R"({"interfaces": [{"name": "a", "macs": ["02:00:00:a1:b2"]}]})",
                 "bad MAC"},
        bad_case{"negative_sdu", R"({"interfaces": [{"name": "a", "max_sdu": -1}]})",
                 "out of range"},
        bad_case{"ppa_missing", R"({"ppas": [{"state": 4}]})", "\"ppa\" is missing"},
        bad_case{"ppa_too_big", R"({"ppas": [{"ppa": 256}]})", "out of range"},
        bad_case{"ppa_twice", R"({"ppas": [{"ppa": 1}, {"ppa": 1}]})", "given twice"},
        bad_case{"link_twice", R"({"ppas": [{"ppa": 1, "link_id": 4}, {"ppa": 2, "link_id": 4}]})",
                 "given twice"},
        bad_case{"ppa_on_unknown_interface", R"({"ppas": [{"ppa": 1, "interface": "zz"}]})",
                 "no interface \"zz\""},
        bad_case{"ppa_without_interfaces", R"({"interfaces": [], "ppas": [{"ppa": 1}]})",
                 "no interface"},
        bad_case{"unknown_param", R"({"ppas": [{"ppa": 1, "params": {"acktimr": 1}}]})",
                 "unknown key \"acktimr\""},
        bad_case{"string_state", R"({"ppas": [{"ppa": 1, "state": "up"}]})", "integer"},
        bad_case{"unknown_request", R"({"faults": [{"request": "frob", "errno": "EIO"}]})",
                 "unknown request"},
        bad_case{"ppa_on_open", R"({"faults": [{"request": "open", "ppa": 0, "errno": 5}]})",
                 "names no PPA"},
        bad_case{"no_action", R"({"faults": [{"request": "enable"}]})", "exactly one"},
        bad_case{"two_actions",
                 R"({"faults": [{"request": "enable", "errno": 5, "noreply": true}]})",
                 "exactly one"},
        bad_case{"unknown_errno", R"({"faults": [{"request": "enable", "errno": "EFROB"}]})",
                 "unknown errno name"},
        bad_case{"dlpi_on_ioctl", R"({"faults": [{"request": "enable", "dlpi": "long"}]})",
                 "attach, info or detach"},
        bad_case{"unknown_dlpi", R"({"faults": [{"request": "info", "dlpi": "odd"}]})",
                 "unknown \"dlpi\" value"},
        bad_case{"getmsg_errno_without_errno",
                 R"({"faults": [{"request": "info", "dlpi": "getmsg_errno"}]})", "needs \"errno\""},
        bad_case{"poll_errno_without_errno",
                 R"({"faults": [{"request": "attach", "dlpi": "poll_errno"}]})", "needs \"errno\""},
        bad_case{"answer_ppa_too_big", R"({"ppas": [{"ppa": 1, "answer_ppa": 256}]})",
                 "out of range"},
        bad_case{"noreply_false", R"({"faults": [{"request": "info", "noreply": false}]})",
                 "must be true"},
        bad_case{"short_too_long",
                 R"({"faults": [{"request": "info", "dlpi": "short", "length": 76}]})",
                 "out of range"}),
    llc2test::row_name());

TEST(scenario, defaults_fill_what_is_left_out)
{
    const scenario s = parse_scenario(R"({
        "interfaces": [{"name": "anic", "max_sdu": 4000},
                       {"name": "bnic", "macs": ["02:00:00:00:00:01"]}],
        "ppas": [{"ppa": 3}, {"ppa": 4, "interface": "bnic", "instance": 2,
                  "dlpi": {"min_sdu": 9}}],
        "faults": [{"request": "getppa", "errno": 5},
                   {"request": "info", "dlpi": "getmsg_errno", "errno": "EPROTO"}]})");
    ASSERT_EQ(s.interfaces.size(), 2U);
    EXPECT_EQ(s.interfaces[0].dlpi.mac_type, 4U);
    EXPECT_EQ(s.interfaces[0].dlpi.max_sdu, 4000U);
    EXPECT_EQ(s.interfaces[0].dlpi.min_sdu, 1U);
    EXPECT_EQ(s.interfaces[0].dlpi.service_mode, 1U);

    ASSERT_EQ(s.ppas.size(), 2U);
    EXPECT_EQ(s.ppas[0].interface, "anic");
    EXPECT_EQ(s.ppas[0].state, 0);
    EXPECT_FALSE(s.ppas[0].dlpi);
    // A PPA's dlpi overrides only what it names.
    ASSERT_TRUE(s.ppas[1].dlpi);
    EXPECT_EQ(s.ppas[1].dlpi->min_sdu, 9U);
    EXPECT_EQ(s.ppas[1].dlpi->max_sdu, 1500U);

    ASSERT_EQ(s.faults.size(), 2U);
    EXPECT_EQ(s.faults[0].action, fault_action::refuse);
    EXPECT_EQ(s.faults[0].err, EIO);
    EXPECT_EQ(s.faults[0].count, -1);
    EXPECT_EQ(s.faults[0].skip, 0);
    EXPECT_EQ(s.faults[1].action, fault_action::getmsg_errno);
    EXPECT_EQ(s.faults[1].err, EPROTO);

    // Without "interfaces" there is the default one.
    const scenario d = parse_scenario(R"({"ppas": [{"ppa": 0}]})");
    ASSERT_EQ(d.interfaces.size(), 1U);
    EXPECT_EQ(d.interfaces[0].name, "xnic");
}

TEST(scenario, loaded_ppas_get_links_ids_and_macs)
{
    sim_state st;
    load_scenario(st, parse_scenario(R"({
        "interfaces": [{"name": "anic", "macs": ["02:00:00:00:00:aa"]},
                       {"name": "bnic", "max_sdu": 999}],
        "ppas": [{"ppa": 0, "link_id": 1}, {"ppa": 1, "instance": 0},
                 {"ppa": 2, "interface": "bnic", "instance": 258, "id": 77},
                 {"ppa": 3, "mac": "0a:0b:0c:0d:0e:0f", "state": 5}]})"));
    ASSERT_EQ(st.ppas.size(), 4U);
    ASSERT_EQ(st.links.size(), 4U);
    // Given link ids are kept, others are new and different.
    EXPECT_EQ(st.ppas[0].link_id, 1);
    EXPECT_EQ(st.ppas[1].link_id, 2);
    EXPECT_EQ(st.ppas[3].link_id, 4);
    for (const auto &[n, p] : st.ppas)
        EXPECT_EQ(st.links.at(p.link_id).ppa, n);
    EXPECT_EQ(st.ppas[0].id, 1);
    EXPECT_EQ(st.ppas[1].id, 2);
    EXPECT_EQ(st.ppas[2].id, 77);
    EXPECT_EQ(st.ppas[3].id, 3);
    EXPECT_EQ(st.ppas[1].mac, (mac_addr{0x02, 0, 0, 0, 0, 0xaa}));
    // Beyond its list: the interface's index, then the instance.
    EXPECT_EQ(st.ppas[2].mac, (mac_addr{0x02, 0, 0, 1, 1, 2}));
    EXPECT_EQ(st.ppas[3].mac, (mac_addr{0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}));
    EXPECT_EQ(st.ppas[2].dlpi.max_sdu, 999U);
    EXPECT_EQ(st.ppas[3].state, 5);
}

} // namespace
