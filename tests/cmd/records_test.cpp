// SPDX-License-Identifier: Apache-2.0
// The run-state record against llc2sim: a PPA whose record does not prove
// what the driver holds is never shown as plainly up, one --apply brings it
// back, and a step of --apply that fails, or a record that cannot be
// written, fails the run without changing what cannot be recorded.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/resource.h>

namespace
{

namespace fs = std::filesystem;
using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

std::string record_dir(const SimRoot &r)
{
    return r.path(cmdtest::run_state_rel());
}

using cmdtest::work_since;

// PPA ppa's file on instance ppa with acktimer 4 instead of 2.
std::string with_acktimer_4(int ppa)
{
    std::string text = conf_text("xnic", ppa);
    text.replace(text.find("acktimer=2"), 10, "acktimer=4");
    return text;
}

// One step of a reproduction: "@name" does something to PPA 0's file or
// record, anything else is an llc2 command line ("-r 0").
void step(SimRoot &r, const std::string &what)
{
    const std::string params = record_dir(r) + "/ppa.0.params";
    if (what == "@instance1") {
        r.write_conf(0, conf_text("xnic", 1));
    } else if (what == "@no_params") {
        fs::remove(params);
    } else if (what == "@unconfirmed") {
        // As a run that stopped between UNINIT and INIT leaves it, but with
        // the driver's id and MAC address still right.
        std::stringstream text;
        text << std::ifstream(params).rdbuf();
        std::string s = text.str();
        s.replace(s.find("confirmed=yes"), 13, "confirmed=no");
        std::ofstream(params, std::ios::trunc) << s;
    } else if (what == "@truncated") {
        std::stringstream text;
        text << std::ifstream(params).rdbuf();
        std::ofstream(params, std::ios::trunc) << text.str().substr(0, text.str().size() / 2);
    } else if (what == "@params_dir" || what == "@link_dir") {
        const std::string part = what == "@params_dir" ? params : record_dir(r) + "/ppa.0.link";
        fs::remove(part);
        fs::create_directory(part);
    } else if (what == "@symlink") {
        fs::rename(params, params + ".real");
        fs::create_symlink(params + ".real", params);
    } else if (what == "@acktimer4") {
        r.write_conf(0, with_acktimer_4(0));
    } else if (what == "@no_room") {
        // -i would send the file's values, and no file can grow: nothing is
        // sent, and the part of the values sent before still proves them.
        rlimit limit{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit none{0, limit.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
        const llc2test::Run run = r.run_llc2({"-i", "0"});
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        EXPECT_EQ(run.status, 255) << "no record, no change";
        EXPECT_EQ(run.err, "Cannot record PPA 0: File too large; left as it is\n");
    } else if (what == "@other_link") {
        // A link part naming a link the driver does not report; the
        // parameters stay as they were.
        fs::copy_file(params, params + ".kept");
        cmdtest::under_root(r, [] { return record_link(0, {"xnic", 0, 99}); });
        fs::rename(params + ".kept", params);
    } else {
        std::istringstream words(what);
        std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        ASSERT_EQ(r.run_llc2(args).status, 0) << what;
    }
}

// --apply says applied, then the PPA is up as configured and a second
// --apply only probes.
void expect_converges(SimRoot &r, const std::string &applied)
{
    const llc2test::Run apply = r.run_llc2({"--apply"});
    EXPECT_EQ(apply.out, applied);
    EXPECT_EQ(apply.err, "");
    EXPECT_EQ(apply.status, 0);
    const llc2test::Run status = r.run_llc2({"--status"});
    EXPECT_EQ(status.status, 0) << status.out;
    const std::size_t before = cmdtest::trace(r).size();
    const llc2test::Run again = r.run_llc2({"--apply"});
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(work_since(r, before), Trace{}) << "a second run only probes";
}

const std::string REPLUMBED = "PPA 0: re-plumbed and initialised\n";
const std::string REINIT = "PPA 0: re-initialised\n";

TEST(Records, UnprovenThenConverged)
{
    const struct {
        const char *name;
        std::vector<std::string> steps; // after -p 0
        const char *status;             // --status's line for PPA 0
        std::string applied;            // what --apply then says
        const char *stuck = nullptr;    // or its error, when it cannot change a thing
    } cases[] = {
        // clang-format off
        {"uninit_new_instance_init", {"--apply", "-r 0", "@instance1", "-i 0"},
         "up, changed since applied (deviceinstance)", REPLUMBED},
        {"params_removed", {"@no_params"}, "up, not recorded", REINIT},
        {"params_unconfirmed", {"@unconfirmed"}, "up, not recorded", REINIT},
        {"params_truncated", {"@truncated"}, "up, not recorded", REINIT},
        // Nothing llc2 writes can take the place of a directory: the PPA
        // is not touched, rather than changed and left unrecorded each run.
        {"params_a_directory", {"@params_dir"}, "up, not recorded", "",
         "Cannot record PPA 0: Is a directory; left as it is\n"},
        {"link_a_directory", {"@link_dir"}, "up, link not known", "",
         "Cannot record PPA 0: Is a directory; left as it is\n"},
        {"params_a_symlink", {"@symlink"}, "up, not recorded", REINIT},
        {"init_unrecorded", {"@acktimer4", "@no_room"}, "up, changed since applied (acktimer)", REINIT},
        {"link_not_reported", {"@other_link"}, "up, link not known", REPLUMBED},
        {"uninit_then_init", {"-r 0", "-i 0"}, "up", ""},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        r.start_sim();
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        for (const std::string &s : c.steps)
            step(r, s);
        const llc2test::Run status = r.run_llc2({"--status"});
        EXPECT_EQ(status.out, "PPA 0: " + std::string(c.status) + "\n");
        EXPECT_EQ(status.status, std::string(c.status) == "up" ? 0 : 3);
        if (c.stuck == nullptr) {
            expect_converges(r, c.applied);
            continue;
        }
        const std::size_t before = cmdtest::trace(r).size();
        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.err, c.stuck);
        EXPECT_EQ(apply.status, 255);
        EXPECT_EQ(work_since(r, before), Trace{}) << "nothing changed";
    }
}

// A file where the record directory should be: nothing held is changed,
// each PPA so left is named; a PPA not held is still plumbed.
TEST(Records, DirectoryThatTakesNoRecord)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    r.start_sim();
    ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
    r.write_conf(0, with_acktimer_4(0));
    r.write_conf(1, conf_text("xnic", 1));
    fs::remove_all(record_dir(r));
    r.write_file(record_dir(r).substr(r.root().size() + 1), "");
    // The dry run foresees it, and makes nothing.
    const llc2test::Run would = r.run_llc2({"--apply", "-n"});
    EXPECT_EQ(would.status, 255);
    EXPECT_EQ(would.out, "PPA 1: would plumb and initialise\n");
    EXPECT_EQ(would.err, "Cannot record PPA 0: Not a directory; left as it is\n"
                         "Cannot record PPA 1: Not a directory\n");
    const std::size_t before = cmdtest::trace(r).size();
    const llc2test::Run apply = r.run_llc2({"--apply"});
    EXPECT_EQ(apply.status, 255);
    EXPECT_NE(apply.err.find("Cannot record PPA 0: Not a directory; left as it is\n"),
              std::string::npos)
        << apply.err;
    const Trace work = work_since(r, before);
    for (const std::string &line : work)
        for (const char *to_0 : {"UNINIT", "DISABLE", "PUNLINK", "ENABLE -1 0 ", "INIT 0 "})
            EXPECT_FALSE(line.starts_with(to_0)) << "PPA 0 changed: " << line;
    EXPECT_TRUE(std::any_of(work.begin(), work.end(), [](const std::string &l) {
        return l.starts_with("INIT 1 ");
    })) << "PPA 1 is plumbed and initialised all the same";
}

// What only looks makes no run-state directory on a fresh root, whatever
// a real run would do there: plumb PPA 2, re-initialise PPA 1 (held, no
// record), take down PPA 3 (held, not configured).
TEST(Records, LookingMakesNoDirectory)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.write_conf(2, conf_text("xnic", 2));
    json s = llc2test::default_scenario();
    s["ppas"] = json::parse(R"([{"ppa":1,"state":4,"id":17,"link_id":51},
                                {"ppa":3,"state":4,"id":19,"link_id":53}])");
    r.start_sim(s);
    ASSERT_FALSE(fs::exists(record_dir(r)));
    const struct {
        std::vector<std::string> args;
        std::size_t lines; // of standard output at least
    } rows[] = {
        {{"--apply", "-n", "--prune"}, 3},
        {{"--apply", "--dry-run", "--json", "--prune", "1", "2", "3"}, 1},
        {{"--status"}, 3},
        {{"--json"}, 1},
        {{"-q"}, 3},
        {{"--metrics"}, 3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        const llc2test::Run ran = r.run_llc2(row.args);
        EXPECT_GE(static_cast<std::size_t>(std::count(ran.out.begin(), ran.out.end(), '\n')),
                  row.lines)
            << ran.out;
        EXPECT_FALSE(fs::exists(record_dir(r))) << ran.err;
    }
    // The real run would make it: the rows above were on a root that takes one.
    EXPECT_EQ(r.run_llc2({"--apply", "--prune"}).status, 0);
    EXPECT_TRUE(fs::is_directory(record_dir(r)));
}

// A failure is never a success: each step of a re-initialise (acktimer
// changed) or a re-plumb (instance changed) refused in turn fails the run,
// and the next run converges.
TEST(Records, RefusedStepFailsTheRun)
{
    const std::string plumbed = "PPA 0: plumbed and initialised\n";
    const std::string initialised = "PPA 0: initialised\n";
    const struct {
        const char *request; // llc2sim's name of the refused request
        int skip;            // how many of them the -p before makes
        bool replumb;
        const char *err;  // what --apply says first
        std::string next; // what the next --apply says
    } cases[] = {
        // clang-format off
        {"uninit", 0, false, "Error uninitializing PPA 0: Input/output error\n", REINIT},
        {"disable", 0, false, "Error disabling PPA 0: Input/output error\n", initialised},
        {"init", 1, false, "Error initialization PPA 0\n", initialised},
        {"init", 1, true, "Error initialization PPA 0\n", plumbed},
        {"plink", 1, true, "Error plumbing ", plumbed},
        {"setppa", 1, true, "Error setting PPA(0) on ", plumbed},
        {"punlink", 0, true, "Error unplumbing PPA 0", REPLUMBED},
        {"uninit", 0, true, "Error uninitializing PPA 0: Input/output error\n", REPLUMBED},
        {"disable", 0, true, "Error disabling PPA 0: Input/output error\n", REPLUMBED},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.request) + (c.replumb ? " re-plumbing" : " re-initialising"));
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] = json::array(
            {{{"request", c.request}, {"skip", c.skip}, {"count", 1}, {"errno", "EIO"}}});
        r.start_sim(s);
        ASSERT_EQ(r.run_llc2({"-p", "0"}).status, 0);
        r.write_conf(0, c.replumb ? conf_text("xnic", 1) : with_acktimer_4(0));
        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.status, 255);
        EXPECT_EQ(apply.out, "") << "nothing said done";
        EXPECT_TRUE(apply.err.starts_with(c.err)) << apply.err;
        expect_converges(r, c.next);
    }
}

// Runs of --apply that leave something undone exit 255: a take-down the
// driver refuses, a dry run that passes over a PPA it cannot judge.
TEST(Records, LeftUndoneFailsTheRun)
{
    const struct {
        const char *name;
        std::vector<std::string> args;
        const char *file; // PPA 2's
        const char *faults;
        const char *err;
    } cases[] = {
        // clang-format off
        {"prune_refused", {"--apply", "--prune"}, nullptr,
         R"([{"request":"punlink","errno":"EBUSY"}])", "Error unplumbing PPA 7"},
        {"dry_run_untold", {"--apply", "-n"}, "on",
         R"([{"request":"getppa","ppa":2,"errno":"EIO"}])",
         "PPA 2: cannot tell whether the driver holds it (Input/output error); left as it is\n"},
        {"dry_run_unusable", {"--apply", "-n"}, "devicename=xnic\ndeviceinstance=x\n", "[]",
         "PPA 2: llc2.2:2: invalid line: deviceinstance=x; left as it is\n"},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        if (c.file != nullptr)
            r.write_conf(2, std::string(c.file) == "on" ? conf_text("xnic", 0) : c.file);
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa":7,"state":4,"link_id":9}])");
        s["faults"] = json::parse(c.faults);
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
    }
}

} // namespace
