// A configuration write held in its fsync on purpose while something
// happens to it: a signal comes, or the temporary file's bytes change.
#include "run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

TEST(Write, AReadBackOfOtherBytesLeavesTheOldFile)
{
    if (!strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    const std::vector<std::string> writers[] = {
        {"llc2conf", "create", "-f", "0", "xnic3"},
        {"llc2conf", "set", "0", "acktimer=9"},
    };
    for (const auto &words : writers) {
        SCOPED_TRACE(words[1]);
        SimRoot r;
        r.write_file("dev/xnic", "");
        r.write_conf(0, conf_text("xnic", 0));
        const std::string file = r.path("etc/llc2/default/llc2.0");
        const std::string before = slurp(file);
        const std::string hold =
            "inject=fsync:delay_enter=" + std::to_string(1000000 * llc2test::time_factor()) +
            ":when=1";
        auto running = std::async(std::launch::async, [&r, &hold, &words] {
            return conftool::under_strace(r, {"trace=fsync", hold}, words);
        });
        // Written in one go, then held before its sync: the first byte
        // changes under it.
        const auto written = [&r]() -> std::string {
            for (const std::string &name : leftovers(r)) {
                const std::string path = r.path("etc/llc2/default/") + name;
                std::error_code ec;
                const std::uintmax_t size = std::filesystem::file_size(path, ec);
                if (!ec && size > 0)
                    return path;
            }
            return {};
        };
        while (written().empty() &&
               running.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        }
        const std::string temp_path = written();
        ASSERT_FALSE(temp_path.empty());
        {
            std::fstream temp(temp_path, std::ios::in | std::ios::out | std::ios::binary);
            temp.seekp(0);
            temp.put('!');
        }
        const llc2test::Run run = running.get();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, file + " does not read back as written\n");
        EXPECT_EQ(slurp(file), before);
        EXPECT_TRUE(leftovers(r).empty());
    }
}

} // namespace
