// SPDX-License-Identifier: Apache-2.0
// llc2conf -D DIR: every command on a staged directory, the default one
// untouched; the writers' lock and temporary files in DIR.
#include "run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace
{

using llc2test::SimRoot;
namespace fs = std::filesystem;

// Every entry of dir with its bytes, to see that nothing changed.
std::map<std::string, std::string> contents(const std::string &dir)
{
    std::map<std::string, std::string> out;
    for (const auto &e : fs::directory_iterator(dir))
        out[e.path().filename()] = conftool::slurp(e.path());
    return out;
}

TEST(ConfigDir, EveryCommandWorksOnTheDirectoryNamed)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    const std::string stage = r.path("stage");
    const auto live = contents(r.path("etc/llc2/default"));
    // One after the other on the staged directory, each form of naming it.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } steps[] = {
        {{"-D", stage, "create", "3", "xnic1", "acktimer=4"}, 0, "PPA 3: created\n"},
        {{"-D" + stage, "set", "3", "maxretry=2"}, 0, "PPA 3: replaced\n"},
        {{"--config-dir", stage, "list"}, 0, "PPA 3: xnic1, llc2_on 1\n"},
        {{"--config-dir=" + stage, "list", "--json"},
         0,
         R"({"ppas":[{"ppa":3,"device":"xnic","instance":1,"llc2_on":1,"error":null}],)"
         R"("directory":")" +
             stage + "/\"}\n"},
        {{"-D", stage, "check"}, 0, "PPA 3: ok: device xnic, instance 1, llc2_on 1\n"},
        {{"-D", stage, "show", "0"}, 1, ""},
        {{"-D", stage, "delete", "3"}, 0, "PPA 3: deleted\n"},
        {{"-D", stage, "list"}, 0, ""},
        // Named wrongly (the rest of the rule is llc2's test's): nothing
        // read, nothing written.
        {{"-D", stage, "-D", stage, "list"}, 2, ""},
        {{"-D"}, 2, ""},
        {{"list", "-D", stage}, 2, ""},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.args.front() + " " + (s.args.size() > 2 ? s.args[2] : ""));
        const llc2test::Run ran = conftool::run(r, s.args);
        EXPECT_EQ(ran.status, s.status) << ran.err;
        EXPECT_EQ(ran.out, s.out);
    }
    EXPECT_EQ(contents(r.path("etc/llc2/default")), live);
    EXPECT_EQ(contents(stage).count(std::string(conftool::lock_file)), 1U);
}

// A file named as the directory is named back in the message, never called
// the default directory, and fails the reading commands.
TEST(ConfigDir, ADirectoryThatCannotBeReadIsNamed)
{
    SimRoot r;
    r.write_file("afile", "");
    const std::string named = r.path("afile");
    for (const char *command : {"list", "check"}) {
        SCOPED_TRACE(command);
        const llc2test::Run ran = conftool::run(r, {"-D", named, command});
        EXPECT_EQ(ran.status, 1);
        EXPECT_EQ(ran.err, "Cannot use configuration directory " + named + ": Not a directory\n");
    }
}

TEST(ConfigDir, TheWritersLockIsTheNamedDirectorys)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    const std::string stage = r.path("stage");
    ASSERT_EQ(conftool::run(r, {"-D", stage, "create", "1", "xnic1"}).status, 0);
    // Another writer holds the lock of the default directory: no matter.
    const int live_lock = conftool::hold_lock(r);
    ASSERT_GE(live_lock, 0);
    const std::vector<std::string> wait{"LLC2_LOCK_WAIT_MS=100"};
    EXPECT_EQ(conftool::run(r, {"-D", stage, "set", "1", "acktimer=3"}, wait).status, 0);
    close(live_lock);
    // One holds the staged directory's: the writer there waits, then gives up.
    const int staged_lock = llc2test::hold_lock(stage + "/" + std::string(conftool::lock_file));
    ASSERT_GE(staged_lock, 0);
    const llc2test::Run busy = conftool::run(r, {"-D", stage, "set", "1", "acktimer=5"}, wait);
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find(stage + "/.llc2conf.lock: in use"), std::string::npos) << busy.err;
    close(staged_lock);
    for (const auto &e : fs::directory_iterator(stage))
        EXPECT_FALSE(e.path().filename().string().starts_with(".llc2.")) << e.path();
}

} // namespace
