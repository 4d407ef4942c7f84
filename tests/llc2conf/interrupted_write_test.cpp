// A configuration write interrupted by a signal: the signal waits on
// purpose while the write is held in its fsync.
#include "run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>

namespace
{

using conftool::leftovers;
using conftool::slurp;
using conftool::strace_works;
using llc2test::conf_text;
using llc2test::SimRoot;

TEST(Write, AnInterruptedOneLeavesTheOldFileAndNoTemporary)
{
    if (!strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(sig);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        const std::string before = slurp(r.path("etc/llc2/default/llc2.0"));
        const std::string pidfile = r.path("pid");
        // The write is held in its first fsync; the signal comes meanwhile.
        const std::string hold =
            "inject=fsync:delay_enter=" + std::to_string(1000000 * llc2test::time_factor()) +
            ":when=1";
        auto running = std::async(std::launch::async, [&r, &hold, &pidfile] {
            return conftool::under_strace(r, {"trace=fsync", hold},
                                          {"llc2conf", "create", "-f", "0", "xnic3"},
                                          "echo $$ >" + pidfile + "; ");
        });
        // Wait from below: until the temporary file exists, then signal.
        while (leftovers(r).empty() &&
               running.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        }
        const pid_t pid = std::stoi(slurp(pidfile));
        ASSERT_EQ(kill(pid, sig), 0);
        const llc2test::Run run = running.get();
        EXPECT_EQ(run.status, 128 + sig) << run.err;
        EXPECT_EQ(slurp(r.path("etc/llc2/default/llc2.0")), before);
        EXPECT_TRUE(leftovers(r).empty()) << leftovers(r).front();
    }
}

} // namespace
