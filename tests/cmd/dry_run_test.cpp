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

// What --apply told of its actions, "PPA n: <words>" each, from its lines
// or its document; a dry run's in the real run's words, without the
// pending keywords its lines add.
Lines actions_of(const llc2test::Run &run, bool json_doc)
{
    Lines out;
    if (json_doc) {
        const json doc = json::parse(run.out);
        for (const json &a : doc.at("actions"))
            out.push_back("PPA " + std::to_string(a.at("ppa").get<int>()) + ": " +
                          a.at("action").get<std::string>());
    } else {
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);)
            out.push_back(line.substr(0, line.find(" (")));
    }
    for (std::string &line : out)
        for (std::size_t i = 0; i < APPLY_WOULD.size(); ++i)
            if (line.ends_with(": would " + std::string(APPLY_WOULD.at(i))))
                line = line.substr(0, line.find(": would ") + 2) + std::string(APPLY_DONE.at(i));
    return out;
}

TEST(DryRun, TellsTheActionsInTheRealRunsOrder)
{
    const struct {
        const char *name;
        std::vector<int> files; // configured PPAs, each on instance ppa % 2
        const char *held;
        Lines done; // what the real run tells
    } rows[] = {
        // Taken down first, told last.
        {"take-down last",
         {1, 3},
         R"([{"ppa":7,"state":4,"link_id":70}])",
         {"PPA 1: plumbed and initialised", "PPA 3: plumbed and initialised", "PPA 7: taken down"}},
        {"take-down between plumbs",
         {1, 4},
         R"([{"ppa":2,"state":4,"link_id":40}])",
         {"PPA 1: plumbed and initialised", "PPA 2: taken down", "PPA 4: plumbed and initialised"}},
    };
    for (const auto &row : rows) {
        for (const bool json_doc : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (json_doc ? " --json" : ""));
            SimRoot r;
            for (const int ppa : row.files)
                r.write_conf(ppa, conf_text("xnic", ppa % 2));
            json s = llc2test::default_scenario();
            s["ppas"] = json::parse(row.held);
            r.start_sim(s);
            std::vector<std::string> args{"--apply", "--prune"};
            if (json_doc)
                args.emplace_back("--json");
            std::vector<std::string> dry = args;
            dry.emplace_back("-n");
            const llc2test::Run would = r.run_llc2(dry);
            const llc2test::Run done = r.run_llc2(args);
            EXPECT_EQ(actions_of(would, json_doc), row.done) << would.out;
            EXPECT_EQ(actions_of(done, json_doc), row.done) << done.out;
            EXPECT_EQ(std::tuple(would.status, done.status, done.err), std::tuple(0, 0, ""));
        }
    }
}

// The dry run of args, then the real run, on r: the dry run foretells the
// real run's exit status, failures, links unlinked and actions, and each
// line it wrote on standard error is one the real run writes. What the
// real run reported, for the caller to judge.
json expect_foretold(const SimRoot &r, std::vector<std::string> args)
{
    args.insert(args.begin(), {"--apply", "--json"});
    std::vector<std::string> dry = args;
    dry.emplace_back("-n");
    const llc2test::Run would = r.run_llc2(dry);
    const llc2test::Run done = r.run_llc2(args);
    const json foretold = json::parse(would.out);
    const json real = json::parse(done.out);
    EXPECT_EQ(would.status, done.status);
    for (const char *key : {"failed", "unlinked"})
        EXPECT_EQ(foretold.at(key), real.at(key)) << key;
    EXPECT_EQ(actions_of(would, true), actions_of(done, true));
    std::istringstream lines(would.err);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(done.err.find(line + "\n"), std::string::npos) << line << " not in\n" << done.err;
    }
    return real;
}

// Each failure of the real run that depends only on what the dry run asks
// and looks at too, and the links it unlinks. PPA 0 is configured and not
// held.
TEST(DryRun, ForetellsEachFailureAndEveryLinkUnlinked)
{
    const struct {
        const char *name;
        const char *faults;
        bool link_left;     // journaled for PPA 0 and bound to nothing
        const char *file_1; // PPA 1's configuration: "znic" (no such device) or none
        bool no_records;    // a file where the run-state directory goes
        const char *failed;
        const char *unlinked;
    } rows[] = {
        {"a link left", "[]", true, nullptr, false, "[]", "[1]"},
        // PPA 5 might hold the link: it stays.
        {"a link left, a PPA untold", R"([{"request":"getppa","ppa":5,"errno":"EIO"}])", true,
         nullptr, false,
         R"([{"ppa":null,"reason":"links left by an interrupted run: not unlinked"}])", "[]"},
        // Plumbed all the same.
        {"no record can be written", "[]", false, nullptr, true,
         R"([{"ppa":0,"reason":"not recorded"}])", "[]"},
        {"no device to plumb on", "[]", false, "znic", false,
         R"([{"ppa":1,"reason":"cannot plumb"}])", "[]"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        if (row.file_1 != nullptr)
            r.write_conf(1, conf_text(row.file_1, 1));
        if (row.no_records)
            r.write_file(cmdtest::run_state_rel(), "");
        json s = llc2test::default_scenario();
        s["faults"] = json::parse(row.faults);
        r.start_sim(s);
        if (row.link_left) {
            ASSERT_EQ(cmdtest::leave_link(r, 0), 1);
        }
        const json real = expect_foretold(r, {});
        EXPECT_EQ(real.at("failed"), json::parse(row.failed));
        EXPECT_EQ(real.at("unlinked"), json::parse(row.unlinked));
    }
}

} // namespace
