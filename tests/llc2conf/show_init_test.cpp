// SPDX-License-Identifier: Apache-2.0
// What llc2conf show says the driver receives is what llc2 -i sends llc2sim
// for the same file. Until this build has PPA initialisation, the test
// skips itself.
#include "run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>

namespace
{

using conftool::with_line;
using llc2test::SimRoot;

// Where each parameter sits in ctl_init, written out so that a wrong
// offset in the tool's record cannot agree with itself.
const std::map<std::string, std::size_t> ctl_init_offsets{
    {"acktimer", 8},      {"polltimer", 10}, {"rejecttimer", 12},  {"rembusytimer", 14},
    {"inacttimer", 16},   {"maxretry", 18},  {"xmitwindowsz", 20}, {"rcvwindowsz", 22},
    {"timeinterval", 24}, {"rsptimer", 26},
};
constexpr int IOC_CONTROL = 0x49000008;

// keyword -> sent, from show's table.
std::map<std::string, unsigned> sent_column(const std::string &out)
{
    std::map<std::string, unsigned> sent;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        long written = 0;
        unsigned value = 0;
        if (words >> keyword >> written >> value && ctl_init_offsets.count(keyword) != 0)
            sent[keyword] = value;
    }
    return sent;
}

TEST(ShowAndInit, AgreeOnEveryParameter)
{
    SimRoot r;
    std::string text = llc2test::conf_text("xnic", 0, 0);
    text = with_line(text, "acktimer=2", "acktimer=65536");
    text = with_line(text, "polltimer=4", "polltimer=70000");
    text = with_line(text, "rejecttimer=6", "rejecttimer=0");
    text = with_line(text, "timeinterval=0", "timeinterval=131072");
    text = with_line(text, "rsptimer=2", "rsptimer=65535");
    text = with_line(text, "xmitwindowsz=14", "xmitwindowsz=7");
    r.write_conf(2, text);

    const llc2test::Run shown = conftool::run(r, {"show", "2"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const std::map<std::string, unsigned> sent = sent_column(shown.out);
    ASSERT_EQ(sent.size(), ctl_init_offsets.size()) << shown.out;

    nlohmann::json scenario = llc2test::default_scenario();
    scenario["ppas"] = nlohmann::json::array(
        {{{"ppa", 2}, {"interface", "xnic"}, {"instance", 0}, {"state", 4}, {"link_id", 7}}});
    r.start_sim(scenario);
    const llc2test::Run init = r.run_llc2({"-i", "2"});
    ASSERT_EQ(init.status, 0) << init.err;

    std::vector<unsigned char> bytes;
    for (const nlohmann::json &rec : r.log("ioctl")) {
        if (rec.value("ic_cmd", 0) == IOC_CONTROL && rec.value("ic_len", 0) == 32)
            bytes = llc2test::unhex(rec.at("payload").get<std::string>());
    }
    ASSERT_EQ(bytes.size(), 32U) << "no ctl_init reached the driver";
    for (const auto &[keyword, offset] : ctl_init_offsets) {
        std::uint16_t on_wire = 0;
        std::memcpy(&on_wire, bytes.data() + offset, sizeof on_wire);
        EXPECT_EQ(on_wire, sent.at(keyword)) << keyword;
    }
}

} // namespace
