// SPDX-License-Identifier: Apache-2.0
// What a start-up script relies on, run as one runs it: no configuration
// entry makes a command wait for ever, a switched-on PPA that stays down
// fails the job, and output that did not reach its reader is a failure.
#include "run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

namespace
{

using conftool::command;
using conftool::env_of;
using conftool::shell;
using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

TEST(SpecialFiles, StopTheCommandAtOnceInsteadOfHangingIt)
{
    // A FIFO would block the open or the read; /dev/zero would never end.
    // Each run is killed after 60 s, so a hang fails with status 137.
    struct Case {
        std::vector<std::string> words;
        int status;
    };
    const Case cases[] = {{{"llc2", "-P"}, 255},          {{"llc2", "-i", "5"}, 255},
                          {{"llc2", "-p", "5"}, 255},     {{"llc2", "-q"}, 0},
                          {{"llc2conf", "check"}, 1},     {{"llc2conf", "show", "5"}, 1},
                          {{"llc2conf", "check", "5"}, 1}};
    for (const bool fifo : {true, false}) {
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        const std::string file = r.path("etc/llc2/default/llc2.5");
        if (fifo)
            ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
        else
            std::filesystem::create_symlink("/dev/zero", file);
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa": 5}])");
        r.start_sim(s);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.words.back() + (fifo ? " fifo" : " zero"));
            const llc2test::Run run = llc2test::run_program(command(c.words), env_of(r), 60);
            EXPECT_EQ(run.status, c.status);
            EXPECT_NE(run.err.find("Cannot open " + file + ": not a regular file\n"),
                      std::string::npos)
                << run.err;
        }
        // -f replaces the entry with a file; nothing reads it first.
        const llc2test::Run created = conftool::run(r, {"create", "-f", "5", "xnic5"});
        EXPECT_EQ(created.status, 0) << created.err;
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
    }
}

TEST(PlumbAll, ASwitchedOnPpaThatStaysDownFailsTheBoot)
{
    // PPA 1 is sound; PPA 2 fails as each row says. PPA 1 comes up all the
    // same, and only a PPA meant to come up counts against the job.
    struct Case {
        std::string conf2;
        const char *fault; // request refused for PPA 2 with EBUSY, or ""
        int status;
        std::string err; // "{root}" stands for the test's root
    };
    const std::string busy = ": Device or resource busy\n";
    const Case cases[] = {
        {conf_text("ynic", 0), "plink", 255,
         "Error plumbing {root}/dev/ynic" + busy + "Cannot plumb PPA 2\n"},
        {conf_text("ynic", 0), "setppa", 255,
         "Error setting PPA(2) on {root}/dev/ynic" + busy + "Cannot plumb PPA 2\n"},
        {conf_text("nosuch", 0), "", 255, "Cannot plumb PPA 2\n"},
        {"devicename=ynic\n", "", 255, "Cannot plumb PPA 2\n"},
        {conf_text("nosuch", 0, 0), "", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err);
        SimRoot r;
        r.write_conf(1, conf_text("xnic", 1));
        r.write_conf(2, c.conf2);
        json s = llc2test::default_scenario();
        s["interfaces"].push_back(s["interfaces"][0]);
        s["interfaces"][1]["name"] = "ynic";
        if (*c.fault != '\0')
            s["faults"] = json::array({{{"request", c.fault},
                                        {std::string(c.fault) == "plink" ? "device" : "ppa",
                                         std::string(c.fault) == "plink" ? json("ynic") : json(2)},
                                        {"errno", "EBUSY"}}});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-P"});
        EXPECT_EQ(run.status, c.status);
        std::string err = c.err;
        if (const std::size_t at = err.find("{root}"); at != std::string::npos)
            err.replace(at, 6, r.root());
        EXPECT_EQ(run.err, err);
        EXPECT_NE(r.run_llc2({"-q"}).out.find("\n  1    up "), std::string::npos);
    }
}

TEST(Output, ThatCannotBeWrittenIsAFailure)
{
    // Switched off, so that -P succeeds on every run and lists PPA 1.
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1, 0));
    r.start_sim();
    const struct {
        std::vector<std::string> words;
        int status;
    } cases[] = {{{"llc2", "-q"}, 255},      {{"llc2", "-d", "-P"}, 255},
                 {{"llc2conf", "check"}, 1}, {{"llc2conf", "show", "1"}, 1},
                 {{"llc2", "--help"}, 255},  {{"llc2conf", "--version"}, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.back());
        const llc2test::Run full = shell(r, ">/dev/full", c.words);
        EXPECT_EQ(full.status, c.status);
        const std::string said = c.words.front() + ": write error: No space left on device\n";
        EXPECT_TRUE(full.err.ends_with(said)) << full.err;
        EXPECT_EQ(shell(r, ">&-", c.words).status, c.status) << "standard output closed";
    }
    // The reader is gone before the first write: the run is not cut short
    // and nothing is said about it.
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.back());
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        close(ends[0]);
        const std::string errfile = r.path("err.txt");
        std::vector<std::string> words = command(c.words);
        std::vector<std::string> env = env_of(r);
        std::vector<char *> argv;
        std::vector<char *> envp;
        for (std::string &w : words)
            argv.push_back(w.data());
        for (std::string &e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(ends[1], 1);
            const int e = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(e, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(ends[1]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        std::ifstream in(errfile);
        const std::string err{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(err.find("write error"), std::string::npos) << err;
    }
}

TEST(Create, IsDurableAndAtomic)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    const std::string file = r.path("etc/llc2/default/llc2.0");
    std::vector<std::string> argv{"/usr/bin/strace", "-f", "-qq", "-e",
                                  "trace=fsync,rename,link,unlink"};
    for (const std::string &w : command({"llc2conf", "create", "-f", "0", "xnic3"}))
        argv.push_back(w);
    // LeakSanitizer cannot work under ptrace; the sanitizer build runs this too.
    std::vector<std::string> env = env_of(r);
    env.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    const llc2test::Run run = llc2test::run_program(argv, env, 60);
    if (run.status == 127 || run.err.find("fsync") == std::string::npos)
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    EXPECT_EQ(run.status, 0);
    // The file's data, then the name, then the directory that holds it.
    const std::size_t data = run.err.find("fsync(");
    const std::size_t name = run.err.find("rename(\"" + r.path("etc/llc2/default/.llc2.0."));
    const std::size_t dir = run.err.find("fsync(", name);
    EXPECT_LT(data, name) << run.err;
    EXPECT_NE(name, std::string::npos) << run.err;
    EXPECT_NE(dir, std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\", \"" + file + "\") = 0", name), std::string::npos) << run.err;
}

TEST(Create, OfOnePpaAtOnceOneWins)
{
    // The reliable check of the mechanism is ConfWriter.KeepLeavesAFileThatAppeared;
    // this one shows the command wired to it.
    // Of two different settings one is refused; of the same, neither is.
    SimRoot r;
    for (int round = 0; round < 40; ++round) {
        const std::string ppa = std::to_string(round + 10);
        const bool same = round % 2 == 1;
        auto create = [&r, &ppa](const char *provider) {
            return conftool::run(r, {"create", ppa, provider + ppa});
        };
        auto first = std::async(std::launch::async, create, "xnic");
        const llc2test::Run second = create(same ? "xnic" : "ynic");
        const llc2test::Run one = first.get();
        const std::string said = one.out + second.out;
        if (same) {
            EXPECT_EQ(one.status + second.status, 0) << one.err << second.err;
            EXPECT_TRUE(said == "PPA " + ppa + ": created\nPPA " + ppa + ": unchanged\n" ||
                        said == "PPA " + ppa + ": unchanged\nPPA " + ppa + ": created\n")
                << said;
        } else {
            EXPECT_EQ(one.status + second.status, 1) << one.err << second.err;
            EXPECT_NE((one.err + second.err).find(" exists; give -f to replace it\n"),
                      std::string::npos);
        }
    }
}

} // namespace
