// SPDX-License-Identifier: Apache-2.0
// A dry run of --apply foretells the real run that follows it on the same
// driver: the same actions, told in the same order, in the lines and in the
// JSON document alike, the same failures and the same links unlinked.
#include "cmd_test_util.h"
#include "status_words.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Lines = std::vector<std::string>;

// What --apply told of what it did, as its lines say it: each link
// unlinked, then each PPA acted on; a dry run's in the real run's words,
// without the pending keywords its lines add.
Lines told(const llc2test::Run &run, bool json_doc)
{
    Lines out;
    if (json_doc) {
        const json doc = json::parse(run.out);
        for (const json &id : doc.at("unlinked"))
            out.push_back("Link " + id.dump() + ": " + std::string(LINK_UNLINKED));
        for (const json &a : doc.at("actions"))
            out.push_back("PPA " + a.at("ppa").dump() + ": " + a.at("action").get<std::string>());
    } else {
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);)
            out.push_back(line.starts_with("PPA ") ? line.substr(0, line.find(" (")) : line);
    }
    for (std::string &line : out) {
        const std::size_t words = line.find(": ") + 2;
        if (line.substr(words) == LINK_WOULD_UNLINK)
            line = line.substr(0, words) + std::string(LINK_UNLINKED);
        for (std::size_t i = 0; i < APPLY_WOULD.size(); ++i)
            if (line.substr(words) == "would " + std::string(APPLY_WOULD.at(i)))
                line = line.substr(0, words) + std::string(APPLY_DONE.at(i));
    }
    return out;
}

// Each row on a fresh driver, told in lines and then as a document: the
// dry run tells the real run's links unlinked and actions in its order
// (take-downs come first in the real run, with --prune when the driver
// holds PPAs), and foretells its exit status and failures; each line the
// dry run writes on standard error the real run writes too.
TEST(DryRun, ForetellsTheRealRun)
{
    const std::string plumbed = "plumbed and initialised";
    const std::string unlinked = "Link 1: " + std::string(LINK_UNLINKED);
    const struct {
        const char *name;
        std::vector<int> files; // configured, on xnic
        const char *held;
        const char *faults;
        // "link": one left journaled for PPA 0; "no records": a file where
        // the run-state directory goes; "znic": PPA 1 is on no device
        std::string setup;
        Lines done;
        const char *failed = "[]";
    } rows[] = {
        // clang-format off
        {"take-down last", {1, 3}, R"([{"ppa":7,"state":4,"link_id":70}])", "[]", "",
         {"PPA 1: " + plumbed, "PPA 3: " + plumbed, "PPA 7: taken down"}},
        {"take-down between plumbs", {1, 4}, R"([{"ppa":2,"state":4,"link_id":40}])", "[]", "",
         {"PPA 1: " + plumbed, "PPA 2: taken down", "PPA 4: " + plumbed}},
        {"a link left", {0}, "[]", "[]", "link", {unlinked, "PPA 0: " + plumbed}},
        // PPA 5 might hold the link: it stays.
        {"a link left, a PPA untold", {0}, "[]", R"([{"request":"getppa","ppa":5,"errno":"EIO"}])",
         "link", {"PPA 0: " + plumbed},
         R"([{"ppa":null,"reason":"links left by an interrupted run: not unlinked"}])"},
        // Plumbed all the same.
        {"no record can be written", {0}, "[]", "[]", "no records", {"PPA 0: " + plumbed},
         R"([{"ppa":0,"reason":"not recorded"}])"},
        {"no device to plumb on", {0}, "[]", "[]", "znic", {"PPA 0: " + plumbed},
         R"([{"ppa":1,"reason":"cannot plumb"}])"},
        // clang-format on
    };
    for (const auto &row : rows) {
        for (const bool json_doc : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (json_doc ? " --json" : ""));
            SimRoot r;
            for (const int ppa : row.files)
                r.write_conf(ppa, conf_text("xnic", ppa % 2));
            if (row.setup == "znic")
                r.write_conf(1, conf_text("znic", 1));
            if (row.setup == "no records")
                r.write_file(cmdtest::run_state_rel(), "");
            json s = llc2test::default_scenario();
            s["ppas"] = json::parse(row.held);
            s["faults"] = json::parse(row.faults);
            r.start_sim(s);
            if (row.setup == "link") {
                ASSERT_EQ(cmdtest::leave_link(r, 0), 1);
            }
            std::vector<std::string> args{"--apply"};
            if (json_doc)
                args.emplace_back("--json");
            if (!s["ppas"].empty())
                args.emplace_back("--prune");
            std::vector<std::string> dry = args;
            dry.emplace_back("-n");
            const llc2test::Run would = r.run_llc2(dry);
            const llc2test::Run done = r.run_llc2(args);
            EXPECT_EQ(told(would, json_doc), row.done) << would.out;
            EXPECT_EQ(told(done, json_doc), row.done) << done.out;
            EXPECT_EQ(would.status, done.status);
            std::istringstream lines(would.err);
            for (std::string line; std::getline(lines, line);) {
                EXPECT_NE(done.err.find(line + "\n"), std::string::npos) << line << " not in\n"
                                                                         << done.err;
            }
            if (json_doc) {
                EXPECT_EQ(json::parse(would.out).at("failed"), json::parse(row.failed));
                EXPECT_EQ(json::parse(done.out).at("failed"), json::parse(row.failed));
            }
        }
    }
}

} // namespace
