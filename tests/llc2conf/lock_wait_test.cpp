// The writers' lock, where waiting is the point: one writer held in its
// write while another comes, and a writer that gives up after ten seconds.
#include "run.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

namespace
{

using conftool::leftovers;
using conftool::run;
using conftool::slurp;
using llc2test::SimRoot;

TEST(Lock, TheSecondWriterWaitsForTheFirst)
{
    if (!conftool::strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    struct Case {
        std::vector<std::string> second;
        std::string second_out;
        std::vector<std::string> after; // lines of the file afterwards; none: no file
    };
    const Case cases[] = {
        {{"set", "0", "maxretry=9"}, "PPA 0: replaced\n", {"acktimer=7\t", "maxretry=9\t"}},
        {{"delete", "0"}, "PPA 0: deleted\n", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.second[0]);
        SimRoot r;
        r.write_file("dev/xnic", "");
        ASSERT_EQ(run(r, {"create", "0", "xnic0"}).status, 0);
        // The first is held in the fsync of its temporary file, with the
        // old file read and the lock taken.
        const std::string hold =
            "inject=fsync:delay_enter=" + std::to_string(1000000 * llc2test::time_factor()) +
            ":when=1";
        auto first = std::async(std::launch::async, [&r, &hold] {
            return conftool::under_strace(r, {"trace=fsync", hold},
                                          {"llc2conf", "set", "0", "acktimer=7"});
        });
        while (leftovers(r).empty() &&
               first.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        }
        const llc2test::Run second = run(r, c.second);
        const llc2test::Run one = first.get();
        EXPECT_EQ(one.out, "PPA 0: replaced\n") << one.err;
        EXPECT_EQ(second.out, c.second_out) << second.err;
        const std::string file = r.path("etc/llc2/default/llc2.0");
        EXPECT_EQ(std::filesystem::exists(file), !c.after.empty());
        for (const std::string &line : c.after)
            EXPECT_NE(slurp(file).find("\n" + line), std::string::npos) << slurp(file);
    }
}

TEST(Lock, AWriterGivesUpAfterTenSecondsAndChangesNothing)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    const std::string file = r.path("etc/llc2/default/llc2.0");
    const std::string before = slurp(file);
    const int held = conftool::hold_lock(r);
    ASSERT_GE(held, 0);
    // All at once: each waits its ten seconds beside the others.
    const std::vector<std::string> writers[] = {
        {"create", "-f", "0", "xnic3"},
        {"create", "5", "xnic5"},
        {"set", "0", "acktimer=3"},
        {"delete", "0"},
    };
    std::vector<std::future<llc2test::Run>> runs;
    for (const auto &args : writers)
        runs.push_back(std::async(std::launch::async, [&r, &args] { return run(r, args); }));
    const std::string said = "llc2conf: " + r.path("etc/llc2/default/.llc2conf.lock") +
                             ": in use by process " + std::to_string(getpid()) + "; try again\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(writers[i][0]);
        const llc2test::Run result = runs[i].get();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, said);
    }
    close(held);
    EXPECT_EQ(slurp(file), before);
    EXPECT_EQ(conftool::conf_entries(r), std::vector<std::string>{"llc2.0"});
}

} // namespace
