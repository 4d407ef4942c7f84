// SPDX-License-Identifier: Apache-2.0
// A configuration write held in its fsync on purpose while something
// happens to it: a signal comes, or the temporary file's bytes change.
#include "run.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

namespace
{

using conftool::leftovers;
using conftool::slurp;
using llc2test::SimRoot;

TEST(SlowWrite, HeldInItsFsyncAndDisturbedLeavesTheOldFile)
{
    if (!conftool::strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    const std::vector<std::string> create{"llc2conf", "create", "-f", "0", "xnic3"};
    const struct {
        std::vector<std::string> words;
        int sig; // 0: the temporary file's first byte changes before the read-back
    } cases[] = {
        {create, SIGINT},  {create, SIGTERM}, {create, SIGHUP},
        {create, SIGQUIT}, {create, 0},       {{"llc2conf", "set", "0", "acktimer=9"}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words[1] + " " + std::to_string(c.sig));
        SimRoot r;
        r.write_file("dev/xnic", "");
        r.write_conf(0, llc2test::conf_text("xnic", 0));
        const std::string file = r.path("etc/llc2/default/llc2.0");
        const std::string before = slurp(file);
        conftool::Held held =
            conftool::hold_in_fsync(r, c.words, "echo $$ >" + r.path("pid") + "; ");
        ASSERT_FALSE(held.temp.empty());
        if (c.sig != 0)
            ASSERT_EQ(kill(std::stoi(slurp(r.path("pid"))), c.sig), 0);
        else
            std::fstream(held.temp, std::ios::in | std::ios::out | std::ios::binary).put('!');
        EXPECT_EQ(conftool::said(held.run.get()),
                  std::tuple(c.sig != 0 ? 128 + c.sig : 1, std::string(),
                             c.sig != 0 ? "" : file + " does not read back as written\n"));
        EXPECT_EQ(slurp(file), before);
        EXPECT_TRUE(leftovers(r).empty());
    }
}

} // namespace
