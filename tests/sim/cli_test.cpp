// SPDX-License-Identifier: Apache-2.0
// llc2sim's command line, readiness, sockets and clean stop, run as a process.
#include "drv.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

using llc2test::run_llc2sim;
using llc2test::SimRoot;

bool exists(const std::string &path)
{
    struct stat st {
    };
    return lstat(path.c_str(), &st) == 0;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(cli, help_documents_command_line_and_scenario)
{
    const llc2test::Run r = run_llc2sim({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "usage: llc2sim --root DIR [--scenario FILE] [--log FILE]"));
    for (const char *word :
         {"\"interfaces\"", "\"ppas\"", "\"faults\"", "\"delay_ms\"", "getmsg_errno", "poll_errno",
          "answer_ppa", "llc2sim: ready", "SIGTERM", "SIGUSR1", "MUXID_ALL"})
        EXPECT_TRUE(contains(r.out, word)) << word;
    EXPECT_EQ(r.err, "");
}

TEST(cli, version_is_the_tools_own)
{
    const llc2test::Run sim = run_llc2sim({"--version"});
    const llc2test::Run tool =
        llc2test::run_program({llc2test::llc2_binary(), "--version"}, {}, 10);
    EXPECT_EQ(sim.status, 0);
    EXPECT_EQ(sim.err, "");
    ASSERT_EQ(tool.out.rfind("llc2 ", 0), 0U);
    EXPECT_EQ(sim.out, "llc2sim " + tool.out.substr(5));
}

struct bad_args {
    std::vector<std::string> args;
    const char *says;
};

TEST(cli, bad_command_lines_exit_2_with_usage)
{
    SimRoot dir;
    const bad_args cases[] = {
        {{}, "--root is required"},
        {{"--root"}, "--root needs a value"},
        {{"--root", ""}, "--root needs a value"},
        {{"--root", dir.root(), "--frob"}, "unknown argument \"--frob\""},
        {{"--root", dir.root(), "--scenario"}, "--scenario needs a value"},
        {{"--root", dir.root(), "--scenario", dir.path("missing.json")}, "missing.json"},
        {{"--root", dir.root(), "--log", dir.path("no/such/dir/log")}, "log"},
    };
    for (const bad_args &c : cases) {
        const llc2test::Run r = run_llc2sim(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(cli, bad_scenario_exits_2_naming_the_file)
{
    SimRoot dir;
    const std::string path = dir.path("s.json");
    dir.write_file("s.json", R"({"faults": [{"request": "enable", "errno": "ENOPE"}]})");
    const llc2test::Run r = run_llc2sim({"--root", dir.root(), "--scenario", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, path));
    EXPECT_TRUE(contains(r.err, "faults[0]"));
    EXPECT_FALSE(exists(dir.dev("llc2")));
}

TEST(cli, socket_path_that_does_not_fit_exits_2)
{
    SimRoot dir;
    // The control device fits, the interface's socket does not.
    const std::string root = dir.path(std::string(90 - dir.root().size(), 'r'));
    const std::string path = dir.path("s.json");
    dir.write_file("s.json", R"({"interfaces": [{"name": "averylongnicname"}]})");
    const llc2test::Run r = run_llc2sim({"--root", root, "--scenario", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "too long")) << r.err;
    EXPECT_TRUE(contains(r.err, root + "/dev/averylongnicname"));
    EXPECT_EQ(r.out, "");
}

TEST(cli, signals_remove_the_sockets_and_exit_0)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        SimRoot sim;
        ASSERT_NO_THROW(
            sim.start_sim_text(R"({"interfaces": [{"name": "xnic"}, {"name": "ynic"}]})"));
        for (const char *d : {"llc2", "xnic", "ynic"})
            EXPECT_TRUE(exists(sim.dev(d))) << d;
        // A client still connected does not hold it up.
        const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(sim.stop_sim(sig), 0) << sig;
        for (const char *d : {"llc2", "xnic", "ynic"})
            EXPECT_FALSE(exists(sim.dev(d))) << d;
        stream_close(fd);
    }
}

TEST(cli, leftover_socket_is_replaced_and_a_live_one_kept)
{
    SimRoot sim;
    const std::string path = sim.dev("llc2");
    const int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(s); // a dead run's socket

    ASSERT_NO_THROW(sim.start_sim());
    bool up = false;
    for (int i = 0; i < 500 && !up; ++i) {
        const int fd = stream_open(path.c_str(), O_RDWR);
        up = fd >= 0;
        if (up)
            stream_close(fd);
        else
            usleep(10000);
    }
    EXPECT_TRUE(up);

    // A second llc2sim on the same root leaves the first alone.
    const llc2test::Run second = run_llc2sim({"--root", sim.root()});
    EXPECT_EQ(second.status, 2);
    EXPECT_TRUE(contains(second.err, "another llc2sim")) << second.err;
    const int fd = stream_open(path.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        stream_close(fd);

    EXPECT_EQ(sim.stop_sim(SIGTERM), 0);
}

TEST(cli, a_file_in_the_way_is_not_removed)
{
    SimRoot dir;
    dir.write_file("dev/xnic", "keep me");
    const llc2test::Run r = run_llc2sim({"--root", dir.root()});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "not a socket"));
    std::ifstream in(dir.dev("xnic"));
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
    // What it had set up before giving up is gone again.
    EXPECT_FALSE(exists(dir.dev("llc2")));
}

TEST(cli, manual_page_passes_mandoc_lint)
{
    if (std::system("command -v mandoc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mandoc is not installed";
    const std::string cmd = std::string("mandoc -T lint -W warning ") + LLC2SIM_MANPAGE;
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
