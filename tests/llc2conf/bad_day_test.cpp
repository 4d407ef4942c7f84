// SPDX-License-Identifier: Apache-2.0
// What an unlucky administrator meets: closed standard descriptors, a
// shutdown that cannot finish, huge files, writes interrupted or refused
// half-way, a machine out of memory, hostile names.
#include "run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

namespace
{

using conftool::command;
using conftool::env_of;
using conftool::leftovers;
using conftool::shell;
using conftool::slurp;
using conftool::strace_works;
using conftool::under_strace;
using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
namespace fs = std::filesystem;

TEST(StandardDescriptors, ClosedOnesNeverReachTheDriver)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.start_sim();
    const std::string closed_out = ": write error: Bad file descriptor\n";
    const struct {
        std::string redirect;
        std::vector<std::string> words;
        int status;
        std::string err;
    } cases[] = {
        // The trace would have gone into the control stream.
        {"2>&-", {"llc2", "-d", "-P"}, 0, ""},
        {">&-", {"llc2", "-q"}, 255, "llc2" + closed_out},
        {"<&- >&- 2>&-", {"llc2", "-U"}, 0, ""},
        // Nothing to write on standard output: no write error either.
        {"<&- >&-", {"llc2", "-P"}, 0, ""},
        {"2>&-", {"llc2", "-d", "-u", "1"}, 0, ""},
        // create's status line had nowhere to go; the file is written all the same.
        {">&- 2>&-", {"llc2conf", "create", "-f", "1", "xnic1"}, 1, ""},
        {">&-", {"llc2conf", "check"}, 1, "llc2conf" + closed_out},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.redirect + " " + c.words[1]);
        const llc2test::Run run = shell(r, c.redirect, c.words);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_TRUE(r.log("bad").empty()) << r.log("bad").front().dump();
    EXPECT_FALSE(r.log("ioctl").empty());
    EXPECT_TRUE(leftovers(r).empty());
}

TEST(UnplumbAll, FailsWhenAPpaStaysUpAndStillTakesDownTheRest)
{
    const struct {
        json faults;
        int status;
        std::string err;
        std::size_t punlinks; // the last one of MUXID_ALL, which takes whatever is left
    } cases[] = {
        {json::array(), 0, "", 3},
        {json::array({{{"request", "punlink"}, {"ppa", 0}, {"errno", "EBUSY"}}}), 255,
         "Error unplumbing PPA 0: Device or resource busy\n", 3},
        // Uninitialising does not count.
        {json::array({{{"request", "uninit"}, {"errno", "EIO"}}}), 0, "", 3},
        // The driver's table may end anywhere: silently, and no failure.
        {json::array({{{"request", "getppa"}, {"ppa", 1}, {"errno", "EIO"}}}), 0, "", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.faults.dump());
        SimRoot r;
        json s = llc2test::default_scenario();
        s["ppas"] = json::array({{{"ppa", 0}, {"interface", "xnic"}, {"link_id", 5}},
                                 {{"ppa", 1}, {"interface", "xnic"}, {"link_id", 6}}});
        s["faults"] = c.faults;
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-U"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(r.log("unlink").size(), c.punlinks);
    }
}

TEST(ConfFiles, LargerThanAMebibyteAreRefusedAtOnce)
{
    // Sparse: gigabytes of zeros would otherwise be read to their end.
    const std::string valid = conf_text("xnic", 5);
    const struct {
        std::uintmax_t size;
        bool refused;
    } cases[] = {{2ULL << 30, true}, {(1U << 20) + 1, true}, {1U << 20, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        SimRoot r;
        r.write_conf(5, valid);
        const std::string file = r.path("etc/llc2/default/llc2.5");
        // Comment lines, which the parser passes over, up to the size.
        fs::resize_file(file, c.size);
        if (!c.refused) {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(valid.size()));
            const std::string pad(c.size - valid.size() - 1, ' ');
            f << "#" << pad;
        }
        r.start_sim();
        const std::string said = "Cannot open " + file + ": File too large\n";
        const llc2test::Run plumb = r.run_llc2({"-p", "5"});
        const llc2test::Run check = conftool::run(r, {"check", "5"});
        if (c.refused) {
            EXPECT_EQ(plumb.status, 255);
            EXPECT_EQ(plumb.err, said + "Cannot open configuration files for PPA 5\n");
            EXPECT_EQ(check.status, 1);
            EXPECT_EQ(check.err, said);
        } else {
            EXPECT_EQ(plumb.status, 0) << plumb.err;
            EXPECT_EQ(check.status, 0) << check.err;
        }
    }
}

TEST(Write, FailuresAreToldAndNeverFalse)
{
    if (!strace_works())
        GTEST_SKIP() << "strace cannot trace here";
    struct Case {
        const char *name;
        std::vector<std::string> inject;
        std::vector<std::string> words;
        int status;
        std::string err; // after the root's configuration directory
        bool replaced;   // llc2.<n> holds the new file
    };
    const Case cases[] = {
        {"directory not synced",
         {"trace=fsync", "inject=fsync:error=EIO:when=2"},
         {"llc2conf", "create", "-f", "0", "xnic3"},
         1,
         "llc2.0 is in place but may not survive a crash: Input/output error\n",
         true},
        {"temporary name stays after link",
         {"trace=unlink", "inject=unlink:error=EACCES:when=1"},
         {"llc2conf", "create", "7", "xnic3"},
         1,
         ".llc2.7.",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        const std::string dir = r.path("etc/llc2/default/");
        const llc2test::Run run = under_strace(r, c.inject, c.words);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(dir + c.err), std::string::npos) << run.err;
        const std::string file = dir + "llc2." + c.words[c.words.size() - 2];
        EXPECT_EQ(slurp(file).find("devicename=xnic\ndeviceinstance=3\n") != std::string::npos,
                  c.replaced);
    }
    // A size limit is a write error, not a kill that leaves the temporary.
    SimRoot r;
    r.write_file("dev/xnic", "");
    r.write_conf(0, conf_text("xnic", 0));
    const std::string before = slurp(r.path("etc/llc2/default/llc2.0"));
    const llc2test::Run limited =
        shell(r, "", {"llc2conf", "create", "-f", "0", "xnic3"}, "ulimit -f 0; ");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err,
              "Cannot write conf file " + r.path("etc/llc2/default/llc2.0") + ": File too large\n");
    EXPECT_EQ(slurp(r.path("etc/llc2/default/llc2.0")), before);
    EXPECT_TRUE(leftovers(r).empty());
}

TEST(Write, ConcurrentReplacementsBothSucceed)
{
    // Each checks what it wrote through its own descriptor, not what the
    // other has put under the name since.
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    for (int round = 0; round < 20; ++round) {
        auto create = [&r](const char *link) {
            return conftool::run(r, {"create", "-f", "0", link});
        };
        auto first = std::async(std::launch::async, create, "xnic1");
        const llc2test::Run second = create("ynic2");
        const llc2test::Run one = first.get();
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(conftool::run(r, {"check", "0"}).status, 0);
    }
    EXPECT_TRUE(leftovers(r).empty());
}

TEST(OutOfMemory, IsAMessageAndAFailureStatus)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more than any limit here";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more than any limit here";
#endif
#endif
    if (llc2test::time_factor() > 1)
        GTEST_SKIP() << "under an emulator the limit is the emulator's";
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.start_sim();
    const struct {
        std::vector<std::string> words;
        int status;
        std::string said;
    } programs[] = {{{"llc2", "-q"}, 255, "llc2: out of memory\n"},
                    {{"llc2", "--status"}, 4, "llc2: out of memory\n"},
                    {{"llc2conf", "create", "-f", "1", "xnic1"}, 1, "llc2conf: out of memory\n"}};
    for (const auto &p : programs) {
        const auto limited = [&r, &p](int kib) {
            return shell(r, "", p.words, "ulimit -v " + std::to_string(kib) + "; ");
        };
        // Below some limit the loader cannot even map the libraries (127);
        // where that ends depends on the host's libraries, so find it.
        int lo = 256;
        int hi = 1 << 16;
        while (hi - lo > 4) {
            const int mid = (lo + hi) / 2;
            (limited(mid).status == 127 ? lo : hi) = mid;
        }
        // Just above it, allocations start to fail. Each run works, or says
        // it ran out of memory; never an abort, never a temporary left.
        int said = 0;
        for (int kib = hi; kib < hi + 512; kib += 4) {
            SCOPED_TRACE(p.words.front() + " " + std::to_string(kib));
            const llc2test::Run run = limited(kib);
            EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
            EXPECT_TRUE(run.status < 128 || run.status == 255) << run.status << run.err;
            if (run.err.find(p.said) != std::string::npos) {
                EXPECT_EQ(run.status, p.status);
                ++said;
            }
        }
        EXPECT_GT(said, 0) << p.words.front() << " never ran out of memory above " << hi;
        EXPECT_TRUE(leftovers(r).empty());
    }
}

TEST(Names, ArePrintedEscapedAndNeverLeaveDev)
{
    const struct {
        std::string devicename;
        std::vector<std::string> words;
        std::string out; // "" when not checked
        std::string err;
    } cases[] = {
        {"../../tmp/x",
         {"-d", "-p", "1"},
         "",
         "Plumbing PPA 1: ../../tmp/x(1)\n"
         "Error opening device {root}/dev/../../tmp/x: a \"..\" component leaves /dev\n"
         "Cannot plumb PPA 1\n"},
        // A '/' alone is tried, as the driver's host may name devices so.
        {"x/y",
         {"-d", "-p", "1"},
         "",
         "Plumbing PPA 1: x/y(1)\n"
         "Error opening device {root}/dev/x/y: No such file or directory\n"
         "Cannot plumb PPA 1\n"},
        {"x\033[2J\\",
         {"-d", "-p", "1"},
         "",
         "Plumbing PPA 1: x\\033[2J\\\\(1)\n"
         "Error opening device {root}/dev/x\\033[2J\\\\: No such file or directory\n"
         "Cannot plumb PPA 1\n"},
        {"x\177y\xc3\xa9",
         {"-q"},
         "\\177y\xc3\xa9"
         "1\n",
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.devicename);
        SimRoot r;
        r.write_conf(1, conftool::with_line(conf_text("xnic", 1), "devicename=xnic",
                                            "devicename=" + c.devicename));
        json s = llc2test::default_scenario();
        s["ppas"] = json::array({{{"ppa", 1}, {"interface", "xnic"}}});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2(c.words);
        std::string err = c.err;
        for (std::size_t at; (at = err.find("{root}")) != std::string::npos;)
            err.replace(at, 6, r.root());
        EXPECT_EQ(run.err, err);
        EXPECT_TRUE(run.out.ends_with(c.out)) << run.out;
    }
}

} // namespace
