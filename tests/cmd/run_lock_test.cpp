// SPDX-License-Identifier: Apache-2.0
// Two runs at once: the actions that change the driver take turns on the run
// lock; the ones that only look never wait for it.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <future>
#include <numeric>
#include <set>
#include <tuple>

namespace
{

using llc2test::SimRoot;
using nlohmann::json;

const std::string run_dir = std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2";
const std::string lock_rel = run_dir + "/.lock";

std::tuple<int, std::string, std::string> said(const llc2test::Run &run)
{
    return {run.status, run.out, run.err};
}

// PPAs 0 to 3 configured on xnic; PPA 0 held and up when held is set.
void configure(SimRoot &r, bool held)
{
    for (int ppa = 0; ppa < 4; ++ppa)
        r.write_conf(ppa, llc2test::conf_text("xnic", ppa));
    json s = llc2test::default_scenario();
    if (held)
        s["ppas"] = {{{"ppa", 0}, {"instance", 0}, {"state", 4}}};
    r.start_sim(s);
}

TEST(RunLock, ChangingActionsGiveUpSendingNothingLookingOnesNeverWait)
{
    using args = std::vector<std::string>;
    // clang-format off
    const std::vector<args> changing{{"-P"}, {"-U"}, {"-p", "1"}, {"-u", "0"}, {"-i", "0"},
                                     {"-r", "0"}, {"--apply"}, {"--apply", "--prune"}};
    const std::vector<args> looking{{}, {"-q"}, {"--json"}, {"--status"}, {"--apply", "-n"},
                                    {"--apply", "--dry-run"}, {"--help"}, {"--version"}};
    // clang-format on
    // Short of the real 30 s: the run gives up after a fifth of a second.
    const std::vector<std::string> wait{"LLC2_LOCK_WAIT_MS=200"};
    SimRoot r;
    configure(r, true);
    for (const std::vector<args> *set : {&changing, &looking})
        for (const args &a : *set) {
            SCOPED_TRACE(a.empty() ? "(none)" : a.front() + " " + a.back());
            // The looking ones change nothing: beside a holder they must do
            // just what they do alone.
            const llc2test::Run alone = set == &looking ? r.run_llc2(a, wait) : llc2test::Run{};
            const std::size_t sent = r.log().size();
            const int held = llc2test::hold_lock(r.path(lock_rel));
            const llc2test::Run beside = r.run_llc2(a, wait);
            close(held);
            if (set == &looking) {
                EXPECT_EQ(said(beside), said(alone));
                continue;
            }
            EXPECT_EQ(said(beside),
                      std::tuple(255, "",
                                 "llc2: " + r.path(lock_rel) + ": in use by process " +
                                     std::to_string(getpid()) + "; try again\n"));
            EXPECT_EQ(r.log().size(), sent) << "sent while another run held the lock";
        }
}

TEST(RunLock, AnUnmakeableRunStateDirectoryIsSaidOnceAndTheActionGoesOn)
{
    const std::string parent = run_dir.substr(0, run_dir.rfind('/'));
    const struct {
        std::string file;     // a file where a directory should be
        std::string dangling; // or a link to nothing
        std::string named, reason;
    } cases[] = {
        {parent, "", lock_rel, "Not a directory"},
        {"", parent, run_dir, "No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file + c.dangling);
        SimRoot r;
        configure(r, false);
        if (c.dangling.empty()) {
            r.write_file(c.file, "");
        } else {
            r.write_file(c.dangling + "/x", ""); // its parents
            std::filesystem::remove_all(r.path(c.dangling));
            std::filesystem::create_symlink(r.path("nowhere/run"), r.path(c.dangling));
        }
        // A PPA the driver does not hold is plumbed all the same, its record
        // warned of once, and the run fails.
        const std::string cannot = "Cannot record PPA 1: " + c.reason + "\n";
        EXPECT_EQ(said(r.run_llc2({"-p", "1"})),
                  std::tuple(255, "",
                             "llc2: cannot lock " + r.path(c.named) + ": " + c.reason +
                                 "; PPAs the driver holds are left as they are\n" + cannot));
        // Up, but nothing could record what it was given.
        EXPECT_EQ(r.run_llc2({"--status", "1"}).out, "PPA 1: up, not recorded\n");
    }
}

// From an empty driver, over and over: two --apply at once, and --apply
// started while -P holds the lock. Without the lock the second run plumbs
// what the first has just plumbed, or initialises it under its feet.
TEST(RunLock, TwoRunsAtOnceTakeTurns)
{
    std::string applied;
    for (int ppa = 0; ppa < 4; ++ppa)
        applied += "PPA " + std::to_string(ppa) + ": plumbed and initialised\n";
    const struct {
        std::string first;
        std::multiset<std::string> outs; // both runs' standard output
    } pairs[] = {{"--apply", {"", applied}}, {"-P", {"", ""}}};
    SimRoot r;
    for (const auto &pair : pairs)
        for (int round = 0; round < 20 && !HasFailure(); ++round) {
            SCOPED_TRACE(pair.first + " round " + std::to_string(round));
            r.stop_sim();
            std::filesystem::remove_all(r.path(run_dir));
            configure(r, false);
            auto first = std::async(std::launch::async, [&] { return r.run_llc2({pair.first}); });
            // -P opens the driver only once it holds the lock; two --apply
            // start together.
            if (pair.first == "-P")
                (void)r.wait_log([](const std::vector<json> &log) { return !log.empty(); });
            const llc2test::Run second = r.run_llc2({"--apply"});
            const llc2test::Run one = first.get();
            EXPECT_EQ(std::tuple(one.status, one.err, second.status, second.err),
                      std::tuple(0, "", 0, ""));
            EXPECT_EQ((std::multiset<std::string>{one.out, second.out}), pair.outs);
            EXPECT_EQ(r.log("link").size(), 4U) << "a PPA plumbed twice";
            // One run's requests, then the other's, never mixed: the process
            // behind each record changes once at most.
            std::map<int, int> pid_of; // stream -> pid
            std::vector<int> pids;
            for (const json &rec : r.log()) {
                if (rec.value("kind", "") == "open")
                    pid_of[rec.value("stream", -1)] = rec.value("pid", -1);
                pids.push_back(pid_of[rec.value("stream", -1)]);
            }
            EXPECT_LE(std::inner_product(pids.begin() + 1, pids.end(), pids.begin(), 0,
                                         std::plus<>(), std::not_equal_to<>()),
                      1);
        }
}

} // namespace
