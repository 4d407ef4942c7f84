// SPDX-License-Identifier: Apache-2.0
// Writers at the same moment, as two configuration-management runs or an
// administrator beside a script make them: each change survives the other.
#include "run.h"

#include "llc2_conf.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <utility>

namespace
{

using conftool::run;
using llc2test::SimRoot;

// Beside "set 0 acktimer=V": the second writer (V after a last '='), what it
// says, and whether PPA 0's file is gone afterwards, or holds both values.
const struct Race {
    std::vector<std::string> args;
    std::string out;
    bool gone;
} races[] = {
    {{"set", "0", "maxretry="}, "PPA 0: replaced\n", false},
    {{"delete", "0"}, "PPA 0: deleted\n", true},
};

// Runs the race's second writer beside the first, then checks both.
void race_with(const SimRoot &r, const Race &race, int v, std::future<llc2test::Run> &first,
               bool first_first)
{
    std::vector<std::string> args = race.args;
    if (args.back().ends_with('='))
        args.back() += std::to_string(v);
    EXPECT_EQ(run(r, args).out, race.out);
    const llc2test::Run one = first.get();
    // Beside a delete the set may come second and find no file.
    if (first_first || !race.gone) {
        EXPECT_EQ(one.out, "PPA 0: replaced\n") << one.err;
    }
    std::FILE *fp = std::fopen(r.path("etc/llc2/default/llc2.0").c_str(), "r");
    ASSERT_EQ(fp == nullptr, race.gone);
    conf_values got;
    if (fp != nullptr) {
        ASSERT_EQ(read_conf_and_close(fp, got), 0);
        EXPECT_EQ(std::pair(got.params[CONF_ACKTIMER], got.params[CONF_MAXRETRY]), std::pair(v, v));
    }
}

TEST(Lock, TwoWritersAtOnceLoseNothing)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    // Whatever the umask, anybody may look at who holds the lock.
    const mode_t mask = umask(077);
    for (const Race &race : races) {
        // A lost change showed in most rounds before the lock: one tells.
        for (int v = 1; v <= 60 && !HasFailure(); ++v) {
            SCOPED_TRACE(race.args[0] + " " + std::to_string(v));
            if (!std::filesystem::exists(r.path("etc/llc2/default/llc2.0"))) {
                EXPECT_EQ(run(r, {"create", "0", "xnic0"}).status, 0);
            }
            auto first = std::async(std::launch::async, [&r, v] {
                return run(r, {"set", "0", "acktimer=" + std::to_string(v)});
            });
            race_with(r, race, v, first, false);
        }
    }
    umask(mask);
    EXPECT_TRUE(conftool::leftovers(r).empty());
    struct stat st {
    };
    ASSERT_EQ(lstat(r.path("etc/llc2/default/.llc2conf.lock").c_str(), &st), 0) << "never removed";
    EXPECT_EQ(st.st_mode & 0170777, S_IFREG | 0644);
}

// One round made certain: the first writer held in the fsync of its
// temporary file, the old file read and the lock taken.
TEST(SlowLock, TheSecondWriterWaitsForTheFirst)
{
    if (!conftool::strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    for (const Race &race : races) {
        SCOPED_TRACE(race.args[0]);
        SimRoot r;
        r.write_file("dev/xnic", "");
        ASSERT_EQ(run(r, {"create", "0", "xnic0"}).status, 0);
        conftool::Held first = conftool::hold_in_fsync(r, {"llc2conf", "set", "0", "acktimer=7"});
        race_with(r, race, 7, first.run, true);
    }
}

TEST(SlowLock, WritersGiveUpAfterTenSecondsAndDryRunsNeverWait)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    const std::string file = r.path("etc/llc2/default/llc2.0");
    const std::string before = conftool::slurp(file);
    const int held = conftool::hold_lock(r);
    ASSERT_GE(held, 0);
    const std::string in_use = "llc2conf: " + r.path("etc/llc2/default/.llc2conf.lock") +
                               ": in use by process " + std::to_string(getpid()) + "; try again\n";
    const struct {
        std::vector<std::string> args;
        std::string out; // its end: a dry run's diff comes first
    } cases[] = {
        {{"create", "-f", "0", "xnic3"}, ""},
        {{"create", "5", "xnic5"}, ""},
        {{"set", "0", "acktimer=3"}, ""},
        {{"delete", "0"}, ""},
        {{"create", "-n", "-f", "0", "xnic1"}, "PPA 0: replaced\n"},
        {{"set", "-n", "0", "acktimer=4"}, "PPA 0: replaced\n"},
        {{"delete", "--dry-run", "0"}, "PPA 0: deleted\n"},
    };
    // All at once: each writer waits its ten seconds beside the others.
    std::vector<std::future<llc2test::Run>> runs;
    for (const auto &c : cases)
        runs.push_back(std::async(std::launch::async, [&r, &c] { return run(r, c.args); }));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(cases[i].args[0] + " " + cases[i].args[1]);
        const llc2test::Run result = runs[i].get();
        const bool dry = !cases[i].out.empty();
        EXPECT_TRUE(result.out.ends_with(cases[i].out)) << result.out;
        EXPECT_EQ(conftool::said(result),
                  std::tuple(dry ? 0 : 1, dry ? result.out : "", dry ? "" : in_use));
    }
    close(held);
    EXPECT_EQ(conftool::slurp(file), before);
    EXPECT_EQ(conftool::conf_entries(r), std::vector<std::string>{"llc2.0"});
}

} // namespace
