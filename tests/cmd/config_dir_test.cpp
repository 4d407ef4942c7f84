// SPDX-License-Identifier: Apache-2.0
// llc2 -D DIR (staging a configuration and seeing what it would do) and
// llc2 --apply --json (what it did, for programs).
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

// PPA 0 configured in the default directory, PPA 1 in the staged one.
std::string staged(SimRoot &r, const char *faults = "[]")
{
    r.write_conf(0, conf_text("xnic", 0));
    r.write_file("stage/llc2.1", conf_text("xnic", 1));
    json s = llc2test::default_scenario();
    s["faults"] = json::parse(faults);
    r.start_sim(s);
    return r.path("stage");
}

TEST(ConfigDir, EveryActionReadsTheDirectoryNamed)
{
    SimRoot r;
    const std::string stage = staged(r);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } rows[] = {
        {{"-D", stage, "--apply", "-n"}, 0, "PPA 1: would plumb and initialise\n"},
        {{"--apply", "-n", "-D", stage}, 0, "PPA 1: would plumb and initialise\n"},
        {{"--config-dir=" + stage, "--status"}, 3, "PPA 1: not plumbed (configured, llc2_on=1)\n"},
        {{"--status", "--config-dir", stage, "0"}, 3, "PPA 0: not configured\n"},
        {{"-d", "-D" + stage, "-p", "1"}, 0, ""},
        {{"-D", stage, "--status"}, 0, "PPA 1: up\n"},
        // The default directory still has PPA 0, which no run above touched.
        {{"--status"},
         3,
         "PPA 0: not plumbed (configured, llc2_on=1)\nPPA 1: up (plumbed but not configured)\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        const llc2test::Run ran = r.run_llc2(row.args);
        EXPECT_EQ(ran.status, row.status) << ran.err;
        EXPECT_EQ(ran.out, row.out);
    }
}

// --metrics takes -D among its operands too: its series are the named
// directory's PPAs, with the device its file names; none of the default's.
TEST(ConfigDir, MetricsReadTheDirectoryNamed)
{
    SimRoot r;
    const std::string stage = staged(r);
    const std::string of_0 = "llc2_ppa_up{ppa=\"0\",device=\"xnic0\"} 0\n";
    const std::string of_1 = "llc2_ppa_up{ppa=\"1\",device=\"xnic1\"} 0\n";
    const struct {
        std::vector<std::string> args;
        const std::string &present, &absent;
    } rows[] = {
        {{"--metrics", "-D", stage}, of_1, of_0},
        {{"--metrics", "1", "--config-dir=" + stage, "0"}, of_1, of_0},
        {{"-D", stage, "--metrics"}, of_1, of_0},
        {{"--metrics"}, of_0, of_1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        const llc2test::Run ran = r.run_llc2(row.args);
        EXPECT_EQ(ran.status, 0) << ran.err;
        EXPECT_NE(ran.out.find(row.present), std::string::npos) << ran.out;
        EXPECT_EQ(ran.out.find(row.absent), std::string::npos) << ran.out;
    }
}

TEST(ConfigDir, NamedWronglyNothingIsOpened)
{
    SimRoot r;
    const std::string stage = staged(r);
    r.write_file("plain", "");
    const std::size_t before = r.log().size();
    const struct {
        std::vector<std::string> args;
        std::string err;
    } rows[] = {
        // A directory named by mistake is no empty configuration: --prune
        // would take every PPA down for it.
        {{"-D", r.path("nowhere"), "--apply", "--prune"},
         "Cannot use configuration directory " + r.path("nowhere") +
             ": No such file or directory\n"},
        {{"-D", r.path("plain"), "-P"},
         "Cannot use configuration directory " + r.path("plain") + ": Not a directory\n"},
        {{"-D", "", "-P"}, "The configuration directory is named by an empty word\n"},
        {{"--apply", "-D", stage, "--config-dir", stage},
         "The configuration directory is named twice\n"},
        {{"--status", "-D"}, "-D needs a directory\n"},
        {{"-D", std::string(1100, 'd'), "-q"},
         "Cannot use configuration directory " + std::string(1100, 'd') + ": File name too long\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back().substr(0, 40));
        const llc2test::Run ran = r.run_llc2(row.args);
        EXPECT_EQ(ran.status, 2);
        EXPECT_TRUE(ran.err.starts_with(row.err)) << ran.err;
        EXPECT_EQ(ran.out, "");
    }
    EXPECT_EQ(r.log().size(), before) << "llc2sim saw a stream opened";
}

// --apply --json: one document, the words of the lines; the dry run's
// actions are the real run's, "would" for the verb.
TEST(ApplyJson, TheDryRunForetellsTheRunVerbForVerb)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.write_conf(2, conf_text("xnic", 2));
    r.start_sim();
    ASSERT_EQ(r.run_llc2({"-p", "1"}).status, 0);
    r.write_conf(1, cmdtest::with_line(conf_text("xnic", 1), "acktimer=9"));
    const llc2test::Run dry = r.run_llc2({"--apply", "-n", "--json"});
    const llc2test::Run real = r.run_llc2({"--apply", "--json"});
    EXPECT_EQ(json::parse(dry.out), json::parse(R"({"actions":[
        {"ppa":1,"action":"would re-initialise","keywords":["acktimer"]},
        {"ppa":2,"action":"would plumb and initialise","keywords":[]}],
        "failed":[],"unlinked":[],"unasked":null})"));
    EXPECT_EQ(json::parse(real.out), json::parse(R"({"actions":[
        {"ppa":1,"action":"re-initialised","keywords":["acktimer"]},
        {"ppa":2,"action":"plumbed and initialised","keywords":[]}],
        "failed":[],"unlinked":[],"unasked":null})"));
    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(real.status, 0);
    EXPECT_EQ(json::parse(r.run_llc2({"--apply", "--json"}).out).at("actions"), json::array());
}

TEST(ApplyJson, EveryFailureIsAnItemAndTheStatusIs255)
{
    const struct {
        const char *name;
        const char *faults;
        bool unusable; // PPA 2's file lacks a keyword
        const char *failed;
    } rows[] = {
        {"init refused", R"([{"request":"init","ppa":1,"errno":"EIO"}])", false,
         R"([{"ppa":1,"reason":"cannot initialise"}])"},
        {"setppa refused", R"([{"request":"setppa","errno":"EIO"}])", false,
         R"([{"ppa":1,"reason":"cannot plumb"}])"},
        {"file unusable", "[]", true,
         R"([{"ppa":2,"reason":"llc2.2: missing keywords: rcvwindowsz; left as it is"}])"},
        {"driver absent", R"([{"request":"open","device":"llc2","errno":"ENXIO"}])", false,
         R"([{"ppa":null,"reason":"cannot open the driver"}])"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        SimRoot r;
        r.write_conf(1, conf_text("xnic", 1));
        if (row.unusable) {
            std::string text = conf_text("xnic", 2);
            text.erase(text.find("rcvwindowsz"));
            r.write_conf(2, text);
        }
        json s = llc2test::default_scenario();
        s["faults"] = json::parse(row.faults);
        r.start_sim(s);
        const llc2test::Run ran = r.run_llc2({"--apply", "--json"});
        EXPECT_EQ(ran.status, 255);
        EXPECT_FALSE(ran.err.empty());
        EXPECT_EQ(json::parse(ran.out).at("failed"), json::parse(row.failed)) << ran.out;
    }
}

} // namespace
