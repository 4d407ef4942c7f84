// SPDX-License-Identifier: Apache-2.0
// llc2 --apply against llc2sim: a start that converges from wherever the
// host is, and touches nothing the configuration does not switch on.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

bool is_probe(const std::string &line)
{
    return line.find(" GETPPA ") != std::string::npos ||
           line.find(" GETLINK ") != std::string::npos;
}

// The trace without the probes (GETPPA, and GETLINK of a recorded link).
Trace work(const Trace &all)
{
    Trace out;
    for (const std::string &line : all)
        if (!is_probe(line))
            out.push_back(line);
    return out;
}

long probes(const Trace &all)
{
    return std::count_if(all.begin(), all.end(), is_probe);
}

// record: the parts of PPA 0's record seeded as a run would have left them
// for its file, "both", "link" or none; PPA 0, when held, is id 16 on link 50.
void start(SimRoot &r, const char *ppas, const char *faults = "[]", const char *record = "")
{
    json s = llc2test::default_scenario();
    s["ppas"] = json::parse(ppas);
    s["faults"] = json::parse(faults);
    r.start_sim(s);
    if (*record != '\0')
        cmdtest::seed_for_file(r, 0, conf_text("xnic", 0), 50,
                               ppa_info{0, 4, 16, {2, 0, 0, 0xa1, 0xb2, 0xc3}}, record);
}

const std::string INIT_DEFAULTS = "2 4 6 8 30 6 14 14 0 2 ok";

TEST(Apply, FromNothingThenNothingToDo)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    r.write_conf(1, conf_text("xnic", 1));
    r.write_conf(2, conf_text("xnic", 2, 0));
    start(r, "[]");
    const llc2test::Run run = r.run_llc2({"--apply"});
    EXPECT_EQ(run.out, "PPA 0: plumbed and initialised\nPPA 1: plumbed and initialised\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const Trace first = cmdtest::trace(r);
    // Plumbed on the probing stream, initialised on a second one, which
    // also carries the final probe.
    EXPECT_EQ(work(first),
              (Trace{"a open llc2", "b open xnic", "a PLINK xnic 1 ok", "a SETPPA 0 15 1 0 ok",
                     "c open xnic", "a PLINK xnic 2 ok", "a SETPPA 1 15 2 1 ok", "d open llc2",
                     "d ENABLE -1 0 ok", "d INIT 0 " + INIT_DEFAULTS, "d ENABLE -1 1 ok",
                     "d INIT 1 " + INIT_DEFAULTS}));
    // The first scan, the one probe of each after INIT, and the last word on
    // the two.
    EXPECT_EQ(probes(first), 64 + 2 + 2);

    const llc2test::Run again = r.run_llc2({"--apply"});
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.status, 0);
    const Trace both = cmdtest::trace(r);
    const Trace second(both.begin() + static_cast<long>(first.size()), both.end());
    EXPECT_EQ(work(second), Trace{"e open llc2"}) << "nothing but the probes";
    EXPECT_EQ(probes(second), 64 + 2) << "the scan and the GETLINK of each recorded link";
    EXPECT_EQ(r.run_llc2({"--status"}).status, 0);
}

TEST(Apply, RepairsAStartCutShort)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    r.write_conf(1, conf_text("xnic", 1));
    // The second control stream of -P does not open: both PPAs stay
    // plumbed and down, and -P cannot mend that.
    start(r, "[]", R"([{"request":"open","device":"llc2","skip":1,"count":1,"errno":"ENXIO"}])");
    ASSERT_EQ(r.run_llc2({"-P"}).status, 255);
    ASSERT_EQ(r.run_llc2({"-P"}).status, 255);
    EXPECT_EQ(r.run_llc2({"--status"}).out,
              "PPA 0: down (configured, llc2_on=1)\nPPA 1: down (configured, llc2_on=1)\n");
    const std::size_t before = cmdtest::trace(r).size();
    const llc2test::Run run = r.run_llc2({"-d", "--apply"});
    EXPECT_EQ(run.out, "PPA 0: initialised\nPPA 1: initialised\n");
    EXPECT_EQ(run.err,
              cmdtest::checking() +
                  "Initializing PPA 0\nInitializing PPA 1\nChecking PPA 0\nChecking PPA 1\n");
    EXPECT_EQ(run.status, 0);
    const Trace all = cmdtest::trace(r);
    const Trace mine = work(Trace(all.begin() + static_cast<long>(before), all.end()));
    EXPECT_EQ(mine.size(), 6U) << "two opens, ENABLE and INIT of each; no plumbing";
    EXPECT_EQ(r.run_llc2({"--status"}).status, 0);
}

TEST(Apply, WhatItLeavesAlone)
{
    const struct {
        const char *name;
        const char *file; // PPA 1's: "invalid", "off"; "far" for PPA 70's; or none
        const char *held; // the driver's PPAs
        const char *faults;
        const char *out;
        const char *err;
        int status;
        const char *record = ""; // PPA 0's, as start takes it
    } cases[] = {
        // clang-format off
        {"unusable_file", "invalid", "[]", "[]",
         "PPA 0: plumbed and initialised\n",
         "PPA 1: llc2.1:2: invalid line: deviceinstance=x\\t2; left as it is\n", 255},
        {"beyond_the_scan", "far", "[]", "[]",
         "PPA 0: plumbed and initialised\nPPA 70: plumbed and initialised\n", "", 0},
        {"plumbed_not_configured", nullptr, R"([{"ppa":0,"state":4,"id":16,"link_id":50},{"ppa":1,"state":0},{"ppa":7,"state":4}])", "[]",
         "", "PPA 1: plumbed but not configured; left as it is\nPPA 7: plumbed but not configured; left as it is\n", 0, "both"},
        {"switched_off_and_plumbed", "off", R"([{"ppa":0,"state":4,"id":16,"link_id":50},{"ppa":1,"state":0}])", "[]",
         "", "PPA 1: plumbed but switched off; left as it is\n", 0, "both"},
        {"init_refused", nullptr, "[]", R"([{"request":"init","ppa":0,"errno":"EIO"}])",
         "", "Error initialization PPA 0\nPPA 0: not up\n", 255},
        {"init_refused_held", nullptr, R"([{"ppa":0,"state":0,"id":16,"link_id":50}])", R"([{"request":"init","ppa":0,"errno":"EIO"}])",
         "", "Error initialization PPA 0\nPPA 0: not up\n", 255, "link"},
        {"device_missing", nullptr, "[]", R"([{"request":"open","device":"xnic","errno":"ENOENT"}])",
         "", "Cannot plumb PPA 0\nPPA 0: not up\n", 255},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        const std::string file = c.file != nullptr ? c.file : "";
        if (file == "invalid")
            r.write_conf(1, "devicename=xnic\ndeviceinstance=x\t2\n");
        else if (file == "off")
            r.write_conf(1, conf_text("xnic", 1, 0));
        else if (file == "far")
            r.write_conf(70, conf_text("xnic", 1));
        start(r, c.held, c.faults, c.record);
        const llc2test::Run run = r.run_llc2({"--apply"});
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, c.status);
        // Never a request to a PPA that is not switched on.
        for (const std::string &line : work(cmdtest::trace(r)))
            for (const char *to_1 : {"ENABLE -1 1 ", "INIT 1 ", "SETPPA 1 ", "GETLINK 1 "})
                EXPECT_EQ(line.find(to_1), std::string::npos) << line;
        // What this run plumbed and could not bring up goes again; what the
        // driver held before stays held.
        const Trace all = cmdtest::trace(r);
        const bool unplumbed = std::any_of(all.begin(), all.end(), [](const std::string &l) {
            return l.find("PUNLINK") != std::string::npos;
        });
        EXPECT_EQ(unplumbed, std::string(c.name) == "init_refused");
    }
}

} // namespace
