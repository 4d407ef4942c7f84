// SPDX-License-Identifier: Apache-2.0
// What was applied against what is configured now, against llc2sim: a
// change to a file after plumbing shows in --status and --json, a dry run only
// probes, and --apply brings the driver to it with the fewest requests.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

using cmdtest::work_since;

// PPA ppa's file with one line replaced: "acktimer=4" replaces acktimer's.
void set_line(SimRoot &r, int ppa, const std::string &line, int instance)
{
    std::string text = conf_text("xnic", instance);
    const std::string key = line.substr(0, line.find('=') + 1);
    const std::size_t at = text.find("\n" + key) + 1;
    text.replace(at, text.find('\n', at) - at, line);
    r.write_conf(ppa, text);
}

const std::string DEFAULTS = " 6 8 30 6 14 14 0 2 ok";

struct Case {
    const char *name;
    const char *line;    // PPA 1's changed line, or null
    const char *status;  // --status's line for PPA 1
    const char *pending; // --json's "pending" of PPA 1
    std::vector<std::string> apply_args;
    const char *would;       // --apply -n
    const char *done;        // --apply
    Trace requests;          // --apply's, probes and opens left out
    const char *held = "[]"; // PPAs the driver holds from the start
};

const Case cases[] = {
    // clang-format off
    {"nothing_changed", nullptr, "up", "[]", {}, "", "", {}},
    {"a_parameter", "acktimer=4", "up, changed since applied (acktimer)", R"(["acktimer"])", {},
     "PPA 1: would re-initialise (acktimer)\n", "PPA 1: re-initialised\n",
     {"UNINIT 1 ok", "DISABLE 0 1 ok", "ENABLE -1 1 ok", "INIT 1 4 4" + DEFAULTS}},
    {"the_link", "deviceinstance=0", "up, changed since applied (deviceinstance)",
     R"(["deviceinstance"])", {},
     "PPA 1: would re-plumb and initialise (deviceinstance)\n", "PPA 1: re-plumbed and initialised\n",
     {"UNINIT 1 ok", "DISABLE 0 1 ok", "GETLINK 1 15 0 0 ok", "PUNLINK 2 ok", "PLINK xnic 3 ok",
      "SETPPA 1 15 3 0 ok", "ENABLE -1 1 ok", "INIT 1 2 4" + DEFAULTS}},
    {"named_other", "acktimer=4", "up, changed since applied (acktimer)", R"(["acktimer"])",
     {"0"}, "", "", {}},
    // PPA 7 is not configured: plumbed by someone else.
    {"pruned", "llc2_on=0", "up (plumbed but switched off, llc2_on=0)", "[]", {"--prune"},
     "PPA 1: would take down\nPPA 7: would take down\n", "PPA 1: taken down\nPPA 7: taken down\n",
     {"UNINIT 1 ok", "DISABLE 0 1 ok", "GETLINK 1 15 0 0 ok", "PUNLINK 2 ok",
      "UNINIT 7 ok", "DISABLE 0 7 ok", "GETLINK 7 15 0 0 ok", "PUNLINK 9 ok"},
     R"([{"ppa":7,"state":4,"link_id":9}])"},
    // clang-format on
};

TEST(Converge, ShownThenApplied)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        r.write_conf(1, conf_text("xnic", 1));
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(c.held);
        r.start_sim(s);
        // One at a time, so that the link identifiers do not follow the
        // directory's order.
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        ASSERT_EQ(r.run_llc2({"-p", "1"}).status, 0);
        if (c.line != nullptr)
            set_line(r, 1, c.line, 1);

        const llc2test::Run status = r.run_llc2({"--status", "1"});
        EXPECT_EQ(status.out, "PPA 1: " + std::string(c.status) + "\n");
        EXPECT_EQ(status.status, c.line == nullptr ? 0 : 3);
        const json doc = json::parse(r.run_llc2({"--json"}).out);
        const json &one = doc.at("ppas").at(1);
        EXPECT_EQ(one.at("pending"), json::parse(c.pending));
        EXPECT_EQ(one.at("applied").at("deviceinstance"), 1);
        EXPECT_EQ(one.at("applied").at("acktimer"), 2);
        EXPECT_EQ(one.at("as_configured"), c.line == nullptr);

        std::vector<std::string> args{"--apply"};
        args.insert(args.end(), c.apply_args.begin(), c.apply_args.end());
        std::vector<std::string> dry = args;
        dry.emplace_back("-n");
        std::size_t before = cmdtest::trace(r).size();
        const llc2test::Run would = r.run_llc2(dry);
        EXPECT_EQ(would.out, c.would);
        EXPECT_EQ(would.status, 0);
        EXPECT_EQ(work_since(r, before), Trace{}) << "a dry run only probes";

        before = cmdtest::trace(r).size();
        const llc2test::Run done = r.run_llc2(args);
        EXPECT_EQ(done.out, c.done);
        EXPECT_EQ(done.err, "");
        EXPECT_EQ(done.status, 0);
        EXPECT_EQ(work_since(r, before), c.requests);
        if (c.apply_args.empty()) {
            EXPECT_EQ(r.run_llc2({"--status"}).status, 0);
            before = cmdtest::trace(r).size();
            EXPECT_EQ(r.run_llc2({"--apply"}).out, "");
            EXPECT_EQ(work_since(r, before), Trace{}) << "a second run only probes";
        }
    }
}

// A record the driver no longer matches (reloaded, plumbed anew on another
// instance) proves nothing: the PPA is "not recorded", and --apply plumbs
// it again; a record of a PPA the driver no longer holds and nobody
// configures goes.
TEST(Converge, AStaleRecordCountsAsNone)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.write_conf(2, conf_text("xnic", 0));
    r.start_sim();
    ASSERT_EQ(r.run_llc2({"-p", "1"}).status, 0);
    ASSERT_EQ(r.run_llc2({"-p", "2"}).status, 0);
    std::filesystem::remove(r.path("etc/llc2/default/llc2.2"));
    ASSERT_EQ(r.stop_sim(), 0);
    json s = llc2test::default_scenario();
    s["ppas"] = json::parse(R"([{"ppa":1,"state":4,"id":99,"instance":0,"link_id":9}])");
    r.start_sim(s);
    set_line(r, 1, "acktimer=4", 1);
    const llc2test::Run status = r.run_llc2({"--status"});
    EXPECT_EQ(status.out, "PPA 1: up, not recorded\n");
    EXPECT_EQ(status.status, 3);
    const json applied = json::parse(r.run_llc2({"--json"}).out)["ppas"][0]["applied"];
    EXPECT_TRUE(applied["devicename"].is_null() && applied["acktimer"].is_null()) << applied;
    const std::string dir = r.path(std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2/");
    ASSERT_TRUE(std::filesystem::exists(dir + "ppa.1.params") &&
                std::filesystem::exists(dir + "ppa.2.link"));
    const llc2test::Run apply = r.run_llc2({"--apply"});
    EXPECT_EQ(apply.out, "PPA 1: re-plumbed and initialised\n");
    EXPECT_EQ(apply.err, "");
    EXPECT_EQ(apply.status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "ppa.2.link"));
    EXPECT_FALSE(std::filesystem::exists(dir + "ppa.2.params"));
    EXPECT_EQ(r.run_llc2({"--status"}).out, "PPA 1: up\n");
}

} // namespace
