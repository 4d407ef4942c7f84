// SPDX-License-Identifier: Apache-2.0
// Written ahead, never behind: whatever stops a change half way (a kill, no
// room for a record, a lock that cannot be taken, a device that is not
// there), --status never says plainly up for values the driver may not
// hold, nothing held is changed that cannot be recorded, and one --apply
// converges afterwards.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

std::string with_line(int ppa, const std::string &line)
{
    return cmdtest::with_line(conf_text("xnic", ppa), line);
}

// Whether a request after skip named PPA ppa, other than its probes
// (GETPPA, GETLINK). A link taken away counts for the held PPA 0, one made
// for PPA 1, the one not held.
bool touched(const SimRoot &r, std::size_t skip, int ppa)
{
    const Trace work = cmdtest::work_since(r, skip);
    return std::ranges::any_of(work, [ppa](const std::string &l) {
        std::istringstream words(l);
        std::string kind, a, b;
        words >> kind >> a >> b;
        if (kind == "PUNLINK" || kind == "PLINK")
            return (kind == "PLINK") == (ppa == 1);
        const std::string &named = kind == "ENABLE" || kind == "DISABLE" ? b : a;
        return kind != "GETLINK" && named == std::to_string(ppa);
    });
}

// One --apply converges, and a second only probes.
void expect_converges(SimRoot &r)
{
    EXPECT_EQ(r.run_llc2({"--apply"}).status, 0);
    EXPECT_EQ(r.run_llc2({"--status"}).status, 0);
    const std::size_t before = cmdtest::trace(r).size();
    EXPECT_EQ(r.run_llc2({"--apply"}).out, "");
    EXPECT_EQ(cmdtest::work_since(r, before), Trace{}) << "a second run only probes";
}

// PPA 0 up as -p left it, its file since changed to acktimer=4, PPA 1
// configured and not held.
void held_and_new(SimRoot &r, const json &scenario = llc2test::default_scenario())
{
    r.write_conf(0, conf_text("xnic", 0));
    r.start_sim(scenario);
    ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
    r.write_conf(0, with_line(0, "acktimer=4"));
    r.write_conf(1, conf_text("xnic", 1));
}

// Fills a small file system mounted on the run-state directory; false when
// none can be mounted here (not root, no tmpfs).
bool fill_run_state(const SimRoot &r)
{
    const std::string dir = r.path(cmdtest::run_state_rel());
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k") != 0)
        return false;
    std::ofstream fill(dir + "/fill");
    const std::string block(4096, 'x');
    while (fill.write(block.data(), static_cast<std::streamsize>(block.size())))
        fill.flush();
    return true;
}

// No room for a record: the held PPA is left as it is, named; the PPA not
// held is plumbed all the same; the run fails; with room again one run
// converges.
TEST(WriteAhead, NoRoomLeavesAHeldPpaAsItIs)
{
    const struct {
        const char *name;
        const char *reason;
    } cases[] = {{"file size limit", "File too large"},
                 {"full file system", "No space left on device"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        held_and_new(r);
        const std::size_t before = cmdtest::trace(r).size();
        llc2test::Run run;
        if (std::string(c.name) == "file size limit") {
            rlimit limit{};
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
            const rlimit none{0, limit.rlim_max};
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
            run = r.run_llc2({"--apply"});
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        } else {
            if (!fill_run_state(r)) {
                std::cerr << "no tmpfs here: the full file system is not tried\n";
                continue;
            }
            run = r.run_llc2({"--apply"});
            EXPECT_EQ(umount2(r.path(cmdtest::run_state_rel()).c_str(), MNT_DETACH), 0);
        }
        EXPECT_EQ(run.status, 255);
        EXPECT_NE(
            run.err.find("Cannot record PPA 0: " + std::string(c.reason) + "; left as it is\n"),
            std::string::npos)
            << run.err;
        EXPECT_FALSE(touched(r, before, 0)) << "PPA 0 changed";
        EXPECT_TRUE(touched(r, before, 1)) << "PPA 1 is plumbed all the same";
        if (std::string(c.name) == "file size limit") {
            EXPECT_EQ(r.run_llc2({"--status", "0"}).out,
                      "PPA 0: up, changed since applied (acktimer)\n")
                << "the old record still proves the old values";
        }
        expect_converges(r);
    }
}

// A change killed after the driver took it, the file then put back: the
// record must not prove the values the file has again.
TEST(WriteAhead, AKilledChangeLeavesNoProofBehind)
{
    const struct {
        std::vector<std::string> args;
        const char *held_back; // the request answered late, killed in its wait
    } cases[] = {
        {{"-i", "0"}, "init"},
        {{"--apply"}, "init"},
        {{"--apply"}, "uninit"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.held_back);
        SimRoot r;
        json s = llc2test::default_scenario();
        // The -p before sends an INIT of its own.
        s["faults"] = {{{"request", c.held_back},
                        {"skip", std::string(c.held_back) == "init" ? 1 : 0},
                        {"count", 1},
                        {"delay_ms", 3000}}};
        r.write_conf(0, conf_text("xnic", 0));
        r.start_sim(s);
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        r.write_conf(0, with_line(0, "acktimer=9"));
        const std::string step = std::string(c.held_back) == "init" ? " INIT 0 " : " UNINIT 0";
        ASSERT_TRUE(cmdtest::kill_llc2_at(r, c.args, step.c_str(),
                                          std::string(c.held_back) == "init" ? 2 : 1));
        r.write_conf(0, conf_text("xnic", 0));
        const llc2test::Run status = r.run_llc2({"--status"});
        EXPECT_NE(status.out, "PPA 0: up\n");
        EXPECT_EQ(status.status, 3) << status.out;
        expect_converges(r);
    }
}

// A lock file that is no regular file: never followed or replaced, and no
// PPA the driver holds is changed without it.
TEST(WriteAhead, NoLockNoChangeToAHeldPpa)
{
    const char *kinds[] = {"directory", "symlink", "fifo"};
    for (const std::string kind : kinds) {
        SCOPED_TRACE(kind);
        SimRoot r;
        held_and_new(r);
        const std::string lock = r.path(cmdtest::run_state_rel() + "/.lock");
        fs::remove(lock);
        if (kind == "directory")
            fs::create_directory(lock);
        else if (kind == "symlink")
            fs::create_symlink(r.path("elsewhere"), lock);
        else
            ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0);
        const std::string said = "llc2: cannot lock " + lock +
                                 ": not a regular file; PPAs the driver holds are left as they "
                                 "are\n";
        // The dry run foresees it.
        const llc2test::Run would = r.run_llc2({"--apply", "-n"});
        EXPECT_EQ(would.status, 255);
        EXPECT_EQ(would.err, "PPA 0: not changed without the run lock; left as it is\n");
        EXPECT_EQ(would.out, "PPA 1: would plumb and initialise\n");
        const std::size_t before = cmdtest::trace(r).size();
        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.status, 255);
        EXPECT_EQ(apply.err, said + "PPA 0: not changed without the run lock; left as it is\n");
        EXPECT_FALSE(touched(r, before, 0));
        EXPECT_TRUE(touched(r, before, 1)) << "PPA 1 is not held: plumbed";
        const std::size_t down = cmdtest::trace(r).size();
        const llc2test::Run all_down = r.run_llc2({"-U"});
        EXPECT_EQ(all_down.status, 255);
        EXPECT_EQ(cmdtest::work_since(r, down), Trace{}) << "-U took nothing down";
        EXPECT_FALSE(fs::exists(r.path("elsewhere")));
        EXPECT_EQ(fs::symlink_status(lock).type(), kind == "directory" ? fs::file_type::directory
                                                   : kind == "symlink" ? fs::file_type::symlink
                                                                       : fs::file_type::fifo);
    }
}

// A re-plumb to a device that does not open leaves the working PPA as it
// is, and the dry run foresees it; a take-down of an up PPA refused is a
// failure.
TEST(WriteAhead, MakeBeforeBreak)
{
    const std::string gone =
        "PPA 0: cannot open /dev/znic: No such file or directory; left as it is\n";
    const struct {
        std::vector<std::string> args;
        const char *faults;
        const char *file; // PPA 0's, or null for none
        std::string err, out;
    } cases[] = {
        // clang-format off
        {{"--apply", "-n"}, "[]", "znic", gone, ""},
        {{"--apply"}, "[]", "znic", gone, ""},
        {{"--apply", "--json"}, "[]", "znic", gone,
         R"({"actions":[],"failed":[{"ppa":0,"reason":"cannot open /dev/znic: No such file or directory; left as it is"}],"unlinked":[],"unasked":null})"
         "\n"},
        {{"--apply", "--prune"}, R"([{"request":"uninit","errno":"EIO"}])", nullptr,
         "Error uninitializing PPA 0: Input/output error\n", ""},
        {{"--apply", "--prune"}, R"([{"request":"disable","errno":"EIO"}])", nullptr,
         "Error disabling PPA 0: Input/output error\n", ""},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back() + " " + c.faults);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] = json::parse(c.faults); // none that -p meets
        r.start_sim(s);
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        if (c.file != nullptr)
            r.write_conf(0, with_line(0, std::string("devicename=") + c.file));
        else
            fs::remove(r.path("etc/llc2/default/llc2.0"));
        const std::size_t before = cmdtest::trace(r).size();
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, c.out);
        if (c.file != nullptr) {
            EXPECT_EQ(cmdtest::work_since(r, before), Trace{}) << "PPA 0 left as it was";
        }
    }
}

} // namespace

namespace
{

// What the record proves, after each step a review found unguarded: only
// what the driver still confirms, never removed where the driver was not
// asked; and every PPA a run leaves half done is named.
TEST(WriteAhead, TheRecordProvesNoMore)
{
    const struct {
        const char *name;
        const char *faults;
        std::function<void(SimRoot &)> then; // after -p 0
        std::vector<std::string> args;
        int status;
        std::function<void(const SimRoot &, const llc2test::Run &)> check;
    } cases[] = {
        {"re-initialise, INIT refused",
         R"([{"request":"init","skip":1,"errno":"EIO"}])",
         [](SimRoot &r) { r.write_conf(0, with_line(0, "acktimer=4")); },
         {"--apply"},
         255,
         [](const SimRoot &r, const llc2test::Run &) {
             const auto p = cmdtest::applied_of(r, 0).params;
             EXPECT_TRUE(!p || !p->confirmed) << "marked before UNINIT";
         }},
        {"re-plumb, INIT refused",
         R"([{"request":"init","skip":1,"errno":"EIO"}])",
         [](SimRoot &r) { r.write_conf(0, conf_text("xnic", 1)); },
         {"--apply"},
         255,
         [](const SimRoot &r, const llc2test::Run &) {
             EXPECT_FALSE(cmdtest::applied_of(r, 0).params) << "the old part went";
         }},
        {"take-down of an up PPA refused",
         R"([{"request":"uninit","errno":"EIO"}])",
         [](SimRoot &r) { fs::remove(r.path("etc/llc2/default/llc2.0")); },
         {"--apply", "--prune"},
         255,
         [](const SimRoot &r, const llc2test::Run &) {
             EXPECT_FALSE(cmdtest::applied_of(r, 0).params);
             EXPECT_TRUE(cmdtest::applied_of(r, 0).link) << "still linked";
         }},
        {"another MAC address",
         "[]",
         [](SimRoot &r) {
             // The driver's id as recorded, one byte of its MAC address not.
             ppa_info now{};
             now.id = cmdtest::applied_of(r, 0).params.value().id;
             std::memcpy(now.mac, cmdtest::applied_of(r, 0).params.value().mac.data(), 6);
             now.mac[5] ^= 1U;
             cmdtest::seed_for_file(r, 0, conf_text("xnic", 0), 1, now, "params");
         },
         {"--status"},
         3,
         [](const SimRoot &, const llc2test::Run &run) {
             EXPECT_EQ(run.out, "PPA 0: up, not recorded\n");
         }},
        {"GETLINK refused",
         R"([{"request":"getlink","errno":"EIO"}])",
         [](SimRoot &) {},
         {"--json"},
         0,
         [](const SimRoot &r, const llc2test::Run &run) {
             const json doc = json::parse(run.out);
             EXPECT_TRUE(doc["ppas"][0]["applied"]["acktimer"].is_null()) << run.out;
             // Up all the same, as the driver said.
             const std::string metrics = r.run_llc2({"--metrics"}).out;
             EXPECT_NE(metrics.find("\nllc2_ppa_up{ppa=\"0\""), std::string::npos) << metrics;
         }},
        {"a PPA not told",
         R"([{"request":"getppa","ppa":5,"errno":"EIO"}])",
         [](SimRoot &r) {
             cmdtest::seed_record(r, 5, {"xnic", 5, 7}, nullptr, false);
         },
         {"--apply"},
         0,
         [](const SimRoot &r, const llc2test::Run &) {
             EXPECT_TRUE(cmdtest::applied_of(r, 5).link) << "records are evidence";
         }},
        {"no second control stream",
         R"([{"request":"open","device":"llc2","skip":3,"count":1,"errno":"EACCES"}])",
         [](SimRoot &r) { r.write_conf(1, conf_text("xnic", 1)); },
         {"--apply", "--json"},
         255,
         [](const SimRoot &, const llc2test::Run &run) {
             EXPECT_EQ(
                 json::parse(run.out)["failed"],
                 json::parse(R"j([{"ppa":1,"reason":"not initialised (Permission denied)"}])j"));
             EXPECT_NE(run.err.find("PPA 1: not initialised (Permission denied)\n"),
                       std::string::npos)
                 << run.err;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] = json::parse(c.faults);
        r.start_sim(s);
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        c.then(r);
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        c.check(r, run);
    }
}

} // namespace
