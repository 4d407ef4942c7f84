// llc2sim's command line, readiness, sockets and clean stop, run as a process.
#include "drv.h"
#include "sim_process.h"

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
    const sim_run r = run_llc2sim({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "usage: llc2sim --root DIR [--scenario FILE] [--log FILE]"));
    for (const char *word : {"\"interfaces\"", "\"ppas\"", "\"faults\"", "\"delay_ms\"",
                             "getmsg_errno", "llc2sim: ready", "SIGTERM"})
        EXPECT_TRUE(contains(r.out, word)) << word;
    EXPECT_EQ(r.err, "");
}

struct bad_args {
    std::vector<std::string> args;
    const char *says;
};

TEST(cli, bad_command_lines_exit_2_with_usage)
{
    temp_dir dir;
    const bad_args cases[] = {
        {{}, "--root is required"},
        {{"--root"}, "--root needs a value"},
        {{"--root", ""}, "--root needs a value"},
        {{"--root", dir.path, "--frob"}, "unknown argument \"--frob\""},
        {{"--root", dir.path, "--scenario"}, "--scenario needs a value"},
        {{"--root", dir.path, "--scenario", dir.path + "/missing.json"}, "missing.json"},
        {{"--root", dir.path, "--log", dir.path + "/no/such/dir/log"}, "log"},
    };
    for (const bad_args &c : cases) {
        const sim_run r = run_llc2sim(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(cli, bad_scenario_exits_2_naming_the_file)
{
    temp_dir dir;
    const std::string path = dir.path + "/s.json";
    std::ofstream(path) << R"({"faults": [{"request": "enable", "errno": "ENOPE"}]})";
    const sim_run r = run_llc2sim({"--root", dir.path, "--scenario", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, path));
    EXPECT_TRUE(contains(r.err, "faults[0]"));
    EXPECT_FALSE(exists(dir.path + "/dev/llc2"));
}

TEST(cli, socket_path_that_does_not_fit_exits_2)
{
    temp_dir dir;
    // The control device fits, the interface's socket does not.
    const std::string root = dir.path + "/" + std::string(90 - dir.path.size(), 'r');
    const std::string path = dir.path + "/s.json";
    std::ofstream(path) << R"({"interfaces": [{"name": "averylongnicname"}]})";
    const sim_run r = run_llc2sim({"--root", root, "--scenario", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "too long")) << r.err;
    EXPECT_TRUE(contains(r.err, root + "/dev/averylongnicname"));
    EXPECT_EQ(r.out, "");
}

TEST(cli, signals_remove_the_sockets_and_exit_0)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        sim_process sim{R"({"interfaces": [{"name": "xnic"}, {"name": "ynic"}]})"};
        ASSERT_TRUE(sim.ready);
        for (const char *d : {"llc2", "xnic", "ynic"})
            EXPECT_TRUE(exists(sim.dev(d))) << d;
        // A client still connected does not hold it up.
        const int fd = stream_open(sim.dev("llc2").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        const int status = sim.stop(sig);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig;
        for (const char *d : {"llc2", "xnic", "ynic"})
            EXPECT_FALSE(exists(sim.dev(d))) << d;
        stream_close(fd);
    }
}

TEST(cli, leftover_socket_is_replaced_and_a_live_one_kept)
{
    temp_dir dir;
    ASSERT_EQ(mkdir((dir.path + "/dev").c_str(), 0755), 0);
    const std::string path = dir.path + "/dev/llc2";
    const int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(s); // a dead run's socket

    const int pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execl(LLC2SIM_PATH, LLC2SIM_PATH, "--root", dir.path.c_str(), nullptr);
        _exit(127);
    }
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
    const sim_run second = run_llc2sim({"--root", dir.path});
    EXPECT_EQ(second.status, 2);
    EXPECT_TRUE(contains(second.err, "another llc2sim")) << second.err;
    const int fd = stream_open(path.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        stream_close(fd);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(cli, a_file_in_the_way_is_not_removed)
{
    temp_dir dir;
    ASSERT_EQ(mkdir((dir.path + "/dev").c_str(), 0755), 0);
    std::ofstream(dir.path + "/dev/xnic") << "keep me";
    const sim_run r = run_llc2sim({"--root", dir.path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "not a socket"));
    std::ifstream in(dir.path + "/dev/xnic");
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
    // What it had set up before giving up is gone again.
    EXPECT_FALSE(exists(dir.path + "/dev/llc2"));
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
