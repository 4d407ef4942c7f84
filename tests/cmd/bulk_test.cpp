// The start-up and shutdown jobs, -P and -U, against llc2sim.
#include "cmd_test_util.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_ops.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;
using Trace = std::vector<std::string>;

// conf_head built by hand in the order given, so that which node is the head
// does not depend on the directory's order.
void make_list(std::initializer_list<int> ppas)
{
    conf_entry **tail = &conf_head;
    for (const int ppa : ppas) {
        FILE *fp = open_conf(ppa);
        ASSERT_NE(fp, nullptr);
        *tail = new conf_entry{ppa, fp, nullptr};
        tail = &(*tail)->next;
    }
}

std::vector<int> take_list()
{
    std::vector<int> ppas;
    while (conf_entry *node = conf_head) {
        ppas.push_back(node->ppa);
        EXPECT_EQ(node->fp, nullptr) << "the stream was handed over and closed";
        conf_head = node->next;
        delete node;
    }
    return ppas;
}

TEST(PlumbAll, DropsWhatDoesNotPlumbAndInitialisesTheRest)
{
    const struct {
        const char *name;
        std::vector<int> off; // PPAs of 1, 2, 3 (listed in that order) switched off
        std::vector<int> kept;
    } cases[] = {
        {"none fails", {}, {1, 2, 3}},  {"the head", {1}, {2, 3}},
        {"a middle node", {2}, {1, 3}}, {"the last node", {3}, {1, 2}},
        {"every node", {1, 2, 3}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        for (const int ppa : {1, 2, 3}) {
            const bool off = std::ranges::find(c.off, ppa) != c.off.end();
            r.write_conf(ppa, conf_text("xnic", ppa, off ? 0 : 1));
        }
        r.start_sim();
        ASSERT_EQ(::setenv("LLC2_ROOT", r.root().c_str(), 1), 0);
        make_list({1, 2, 3});
        // A switched-off PPA is no failure of the job, even when none is left.
        EXPECT_EQ(llc2_plumb_all(), 0);
        EXPECT_EQ(take_list(), c.kept);
        ::unsetenv("LLC2_ROOT");

        // One interface stream and one link per PPA kept, in list order.
        Trace want{"a open llc2"};
        int n = 0;
        for (const int ppa : c.kept) {
            const std::string p = std::to_string(ppa);
            const std::string link = std::to_string(++n);
            want.push_back(std::string(1, static_cast<char>('a' + n)) + " open xnic");
            want.push_back("a PLINK xnic " + link + " ok");
            want.push_back("a SETPPA " + p + " 15 " + link + " " + p + " ok");
        }
        const std::string init = std::string(1, static_cast<char>('b' + c.kept.size()));
        want.push_back(init + " open llc2");
        for (const int ppa : c.kept) {
            const std::string p = std::to_string(ppa);
            want.push_back(init + " ENABLE -1 " + p + " ok");
            want.push_back(init + " INIT " + p + " 2 4 6 8 30 6 14 14 0 2 ok");
        }
        EXPECT_EQ(cmdtest::trace(r), want);
    }
}

TEST(PlumbAll, AnyPpaThatFailsToComeUpFailsTheJob)
{
    // The first of two fails to initialise, the last comes up: the job
    // still fails, and only the first is unplumbed again.
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 0));
    r.write_conf(2, conf_text("xnic", 1));
    json s = llc2test::default_scenario();
    s["faults"] = json::array({{{"request", "init"}, {"ppa", 1}, {"errno", "EINVAL"}}});
    r.start_sim(s);
    ASSERT_EQ(::setenv("LLC2_ROOT", r.root().c_str(), 1), 0);
    make_list({1, 2});
    debug = 1;
    testing::internal::CaptureStderr();
    const int result = llc2_plumb_all();
    const std::string err = testing::internal::GetCapturedStderr();
    debug = 0;
    ::unsetenv("LLC2_ROOT");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(take_list(), (std::vector<int>{1, 2}));
    EXPECT_EQ(err, "Plumbing PPA 1: xnic(0)\nPlumbing PPA 2: xnic(1)\nInitializing PPA 1\n"
                   "Error initialization PPA 1\nError in initializing PPA 1\n"
                   "Initializing PPA 2\n");
    EXPECT_EQ(cmdtest::trace(r),
              (Trace{"a open llc2", "b open xnic", "a PLINK xnic 1 ok", "a SETPPA 1 15 1 0 ok",
                     "c open xnic", "a PLINK xnic 2 ok", "a SETPPA 2 15 2 1 ok", "d open llc2",
                     "d ENABLE -1 1 ok", "d INIT 1 2 4 6 8 30 6 14 14 0 2 EINVAL",
                     "d GETLINK 1 15 0 0 ok", "d PUNLINK 1 ok", "d ENABLE -1 2 ok",
                     "d INIT 2 2 4 6 8 30 6 14 14 0 2 ok"}));
}

TEST(PlumbAll, EmptyDirectoryOpensNothing)
{
    SimRoot r;
    r.start_sim();
    const llc2test::Run run = r.run_llc2({"-d", "-P"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "\nExisting config files found:\n");
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(r.log().empty());
}

TEST(PlumbAll, SecondControlStreamRefused)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 0));
    json s = llc2test::default_scenario();
    s["faults"] =
        json::array({{{"request", "open"}, {"device", "llc2"}, {"skip", 1}, {"errno", "ENXIO"}}});
    r.start_sim(s);
    const llc2test::Run run = r.run_llc2({"-P"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Cannot open LLC2 device: No such device or address\n");
    // Plumbed, left uninitialised.
    EXPECT_EQ(cmdtest::trace(r), (Trace{"a open llc2", "b open xnic", "a PLINK xnic 1 ok",
                                        "a SETPPA 1 15 1 0 ok", "c open llc2 ENXIO"}));
}

Trace probes(int from, int to, const char *result)
{
    Trace t;
    for (int ppa = from; ppa <= to; ++ppa)
        t.push_back("a GETPPA " + std::to_string(ppa) + " " + result);
    return t;
}

TEST(UnplumbAll, ProbesWithoutPauses)
{
    const struct {
        const char *name;
        json faults;
        Trace after_open;
    } cases[] = {
        {"no PPA: all 64 numbers probed, nothing else", json::array(), probes(0, 63, "ENOENT")},
        {"another errno ends the scan silently",
         json::array({{{"request", "getppa"}, {"ppa", 5}, {"errno", "EIO"}}}),
         [] {
             Trace t = probes(0, 4, "ENOENT");
             t.push_back("a GETPPA 5 EIO");
             return t;
         }()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        json s = llc2test::default_scenario();
        s["faults"] = c.faults;
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-d", "-U"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        Trace want{"a open llc2"};
        want.insert(want.end(), c.after_open.begin(), c.after_open.end());
        EXPECT_EQ(cmdtest::trace(r), want);
        const std::vector<json> reqs = cmdtest::requests(r);
        ASSERT_FALSE(reqs.empty());
        EXPECT_LT(reqs.back().value("t", 9.0) - reqs.front().value("t", 0.0), 0.9)
            << "a pause without a PPA to take down";
    }
}

TEST(UnplumbAll, NoDriver)
{
    SimRoot r;
    const llc2test::Run run = r.run_llc2({"-U"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Cannot open LLC2 device: No such file or directory\n");
}

} // namespace
