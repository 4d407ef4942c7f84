// SPDX-License-Identifier: Apache-2.0
// The start-up and shutdown jobs, -P and -U, against llc2sim.
#include "cmd_test_util.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_ops.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using nlohmann::json;
using Trace = std::vector<std::string>;

// Runs llc2_plumb_all in-process over conf_head built in the order given, so
// that which node is the head does not depend on the directory's order.
// Returns its result and the PPAs left in the list (freed here).
std::pair<int, std::vector<int>> plumb_all(const llc2test::SimRoot &r, std::vector<int> ppas)
{
    ::setenv("LLC2_ROOT", r.root().c_str(), 1);
    for (auto it = ppas.rbegin(); it != ppas.rend(); ++it)
        conf_head = new conf_entry{*it, open_conf(*it), conf_head};
    std::pair<int, std::vector<int>> out{llc2_plumb_all(), {}};
    while (conf_entry *node = conf_head) {
        out.second.push_back(node->ppa);
        EXPECT_EQ(node->fp, nullptr) << "the stream was handed over and closed";
        conf_head = node->next;
        delete node;
    }
    ::unsetenv("LLC2_ROOT");
    return out;
}

TEST(PlumbAll, DropsWhatDoesNotPlumb)
{
    const struct {
        std::vector<int> off; // of PPAs 1, 2, 3, listed in that order
        std::vector<int> kept;
    } cases[] = {{{}, {1, 2, 3}}, {{1}, {2, 3}}, {{2}, {1, 3}}, {{3}, {1, 2}}, {{1, 2, 3}, {}}};
    {
        llc2test::SimRoot empty;
        empty.start_sim();
        EXPECT_EQ(plumb_all(empty, {}), std::make_pair(0, std::vector<int>{}));
        EXPECT_TRUE(empty.log().empty()) << "an empty list opens nothing";
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kept.size());
        llc2test::SimRoot r;
        for (const int ppa : {1, 2, 3})
            r.write_conf(ppa, conf_text("xnic", ppa, std::ranges::count(c.off, ppa) == 0 ? 1 : 0));
        r.start_sim();
        // A switched-off PPA is no failure of the job, even when none is left.
        EXPECT_EQ(plumb_all(r, {1, 2, 3}), std::make_pair(0, c.kept));
        // The second control stream is opened even for an empty list.
        std::size_t controls = 0;
        for (const json &rec : r.log("open"))
            controls += rec.value("device", "") == "llc2";
        EXPECT_EQ(controls, 2U);
        EXPECT_EQ(r.log("link").size(), c.kept.size());
    }
}

TEST(PlumbAll, AnyPpaThatFailsToComeUpFailsTheJob)
{
    // The first of two fails to initialise, the last comes up.
    llc2test::SimRoot r;
    r.write_conf(1, conf_text("xnic", 0));
    r.write_conf(2, conf_text("xnic", 1));
    json s = llc2test::default_scenario();
    s["faults"] = json::array({{{"request", "init"}, {"ppa", 1}, {"errno", "EINVAL"}}});
    r.start_sim(s);
    debug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(plumb_all(r, {1, 2}), std::make_pair(-1, std::vector<int>{1, 2}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Plumbing PPA 1: xnic(0)\nPlumbing PPA 2: xnic(1)\nInitializing PPA 1\n"
              "Error initialization PPA 1\nError in initializing PPA 1\nInitializing PPA 2\n");
    debug = 0;
    const std::string defaults = " 2 4 6 8 30 6 14 14 0 2 ";
    EXPECT_EQ(cmdtest::trace(r),
              (Trace{"a open llc2", "b open xnic", "a PLINK xnic 1 ok", "a SETPPA 1 15 1 0 ok",
                     "c open xnic", "a PLINK xnic 2 ok", "a SETPPA 2 15 2 1 ok", "d open llc2",
                     "d ENABLE -1 1 ok", "d INIT 1" + defaults + "EINVAL", "d GETLINK 1 15 0 0 ok",
                     "d PUNLINK 1 ok", "d ENABLE -1 2 ok", "d INIT 2" + defaults + "ok",
                     "d GETPPA 2 ok"}));
}

TEST(PlumbAll, ControlDeviceMissingOrRefusedTheSecondTime)
{
    llc2test::SimRoot r;
    r.write_conf(1, conf_text("xnic", 0));
    const llc2test::Run none = r.run_llc2({"-P"});
    json s = llc2test::default_scenario();
    s["faults"] =
        json::parse(R"([{"request": "open", "device": "llc2", "skip": 1, "errno": "ENXIO"}])");
    r.start_sim(s);
    const llc2test::Run second = r.run_llc2({"-P"});
    EXPECT_EQ(none.err, "Cannot open LLC2 device: No such file or directory\n");
    EXPECT_EQ(second.err, "Cannot open LLC2 device: No such device or address\n");
    EXPECT_EQ(none.status, 255);
    EXPECT_EQ(second.status, 255);
    // Plumbed and left uninitialised.
    EXPECT_EQ(cmdtest::trace(r), (Trace{"a open llc2", "b open xnic", "a PLINK xnic 1 ok",
                                        "a SETPPA 1 15 1 0 ok", "c open llc2 ENXIO"}));
}

TEST(UnplumbAll, ProbesWithoutPauses)
{
    // No PPA: 64 probes. Another errno than ENOENT ends the scan silently.
    for (const int eio_at : {-1, 5}) {
        SCOPED_TRACE(eio_at);
        llc2test::SimRoot r;
        json s = llc2test::default_scenario();
        s["faults"] = json::array({{{"request", "getppa"}, {"ppa", eio_at}, {"errno", "EIO"}}});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-d", "-U"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        Trace want{"a open llc2"};
        for (int ppa = 0; ppa < (eio_at < 0 ? 64 : eio_at); ++ppa)
            want.push_back("a GETPPA " + std::to_string(ppa) + " ENOENT");
        if (eio_at >= 0)
            want.push_back("a GETPPA " + std::to_string(eio_at) + " EIO");
        // Then every link goes, whatever the scan found.
        want.push_back("a PUNLINK -1 ok");
        EXPECT_EQ(cmdtest::trace(r), want);
        // A pause is a second's sleep between two requests. How long the
        // whole scan takes depends on the host's speed; a gap of a second
        // between two probes does not come from a slow host.
        const std::vector<json> reqs = cmdtest::requests(r);
        double widest = 0;
        for (std::size_t i = 1; i < reqs.size(); ++i)
            widest = std::max(widest, reqs[i].value("t", 9.0) - reqs[i - 1].value("t", 0.0));
        EXPECT_LT(widest, 1.0) << "a pause";
    }
}

} // namespace
