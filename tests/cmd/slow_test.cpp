// SPDX-License-Identifier: Apache-2.0
// The tool's real waits: a driver that never answers (every request waits
// out its ten seconds), ENABLE asked again one second apart, and the second
// between taking a PPA out of service and unplumbing it. These carry the
// label "slow".
#include "cmd_test_util.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <future>
#include <tuple>

namespace
{

using nlohmann::json;

json silent_on(const char *request)
{
    json s = llc2test::default_scenario();
    s["ppas"] = json::array({{{"ppa", 2}, {"interface", "xnic"}, {"instance", 0}, {"link_id", 7}}});
    s["faults"] = json::array({{{"request", request}, {"noreply", true}}});
    return s;
}

// The real ten seconds, once: a driver that leaves UNINIT unanswered is sent
// nothing more (no DISABLE), and -r cannot say the PPA went down.
TEST(SilentDriver, UninitWaitsOutControlOnceAndSendsNothingMore)
{
    llc2test::SimRoot r;
    r.start_sim(silent_on("uninit"));
    const auto from = std::chrono::steady_clock::now();
    const llc2test::Run run = r.run_llc2({"-r", "2"});
    EXPECT_GE(std::chrono::steady_clock::now() - from, std::chrono::milliseconds(9500));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "");
    const std::vector<json> reqs = cmdtest::requests(r);
    ASSERT_EQ(reqs.size(), 1U);
    EXPECT_EQ(reqs[0].value("result", ""), "noreply");
}

TEST(SilentDriver, UnplumbingReportsTheExpiredWait)
{
    llc2test::SimRoot r;
    r.start_sim(silent_on("getlink"));
    const llc2test::Run run = r.run_llc2({"-u", "2"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Error getting info from PPA 2: Timer expired\n");
    EXPECT_TRUE(r.log("unlink").empty());
}

using Trace = std::vector<std::string>;

// The seconds between consecutive requests of the given code.
std::vector<double> gaps(const llc2test::SimRoot &r, int ic_cmd)
{
    std::vector<double> out;
    double last = -1;
    for (const json &rec : r.log("ioctl"))
        if (rec.value("ic_cmd", 0) == ic_cmd) {
            if (last >= 0)
                out.push_back(rec.value("t", 0.0) - last);
            last = rec.value("t", 0.0);
        }
    return out;
}

TEST(EnableRefused, AskedFiveTimesOneSecondApart)
{
    // Accepted at the fifth attempt; refused five times: no parameters, and
    // -p unplumbs the PPA again.
    for (const int refusals : {4, 5}) {
        SCOPED_TRACE(refusals);
        llc2test::SimRoot r;
        r.write_conf(3, llc2test::conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] =
            json::array({{{"request", "enable"}, {"count", refusals}, {"errno", "EBUSY"}}});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-p", "3"});
        Trace want{"a open llc2", "b open xnic", "a PLINK xnic 1 ok", "a SETPPA 3 15 1 0 ok",
                   "c open llc2"};
        want.insert(want.end(), 4, "c ENABLE -1 3 EBUSY");
        if (refusals == 4) {
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.err, "");
            want.insert(want.end(), {"c ENABLE -1 3 ok", "c INIT 3 2 4 6 8 30 6 14 14 0 2 ok",
                                     "c GETPPA 3 ok"});
        } else {
            EXPECT_EQ(run.status, 255);
            EXPECT_EQ(run.err, "Timeout initializing PPA 3: Device or resource busy\n");
            want.insert(want.end(),
                        {"c ENABLE -1 3 EBUSY", "c GETLINK 3 15 0 0 ok", "c PUNLINK 1 ok"});
        }
        EXPECT_EQ(cmdtest::trace(r), want);
        const std::vector<double> g = gaps(r, 1);
        EXPECT_EQ(g.size(), 4U);
        EXPECT_GE(*std::ranges::min_element(g), 0.9);
    }
}

TEST(UnplumbAll, TakesDownWhatItFindsUntilTheScanEnds)
{
    // PPAs 2 and 7 exist; the probe of 5 fails, so 7 is never reached: its
    // link goes with the unlink of every link that ends the job.
    llc2test::SimRoot r;
    json s = llc2test::default_scenario();
    s["ppas"] = json::parse(R"([{"ppa": 2, "link_id": 4}, {"ppa": 7, "link_id": 5}])");
    s["faults"] = json::array({{{"request", "getppa"}, {"ppa", 5}, {"errno", "EIO"}}});
    r.start_sim(s);
    const llc2test::Run run = r.run_llc2({"-d", "-U"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Unplumbing PPA 2\n");
    EXPECT_EQ(
        cmdtest::trace(r),
        (Trace{"a open llc2", "a GETPPA 0 ENOENT", "a GETPPA 1 ENOENT", "a GETPPA 2 ok",
               "a UNINIT 2 ok", "a DISABLE 0 2 ok", "a GETLINK 2 15 0 0 ok", "a PUNLINK 4 ok",
               "a GETPPA 3 ENOENT", "a GETPPA 4 ENOENT", "a GETPPA 5 EIO", "a PUNLINK -1 ok"}));
    const std::vector<json> reqs = cmdtest::requests(r);
    EXPECT_GE(reqs[5].value("t", 0.0) - reqs[4].value("t", 0.0), 0.9) << "DISABLE to GETLINK";
}

TEST(StartUpThenShutdown, LeavesNoPpaAndNoLink)
{
    llc2test::SimRoot r;
    for (const int ppa : {0, 1, 4})
        r.write_conf(ppa, llc2test::conf_text("xnic", ppa % 2));
    r.start_sim();
    EXPECT_EQ(r.run_llc2({"-P"}).status, 0);
    EXPECT_EQ(r.run_llc2({"-U"}).status, 0);
    for (const int ppa : {0, 1, 4})
        EXPECT_FALSE(cmdtest::applied_of(r, ppa)) << ppa;
    std::vector<int> linked;
    std::vector<int> unlinked;
    for (const json &rec : r.log("link"))
        linked.push_back(rec.value("link_id", -1));
    for (const json &rec : r.log("unlink"))
        unlinked.push_back(rec.value("result", "") == "ok" ? rec.value("link_id", -1) : -1);
    // Each PPA's own, then MUXID_ALL (-1), which finds nothing left.
    ASSERT_FALSE(unlinked.empty());
    EXPECT_EQ(r.log("unlink").back().value("unlinked", -1), 0);
    std::ranges::sort(unlinked);
    EXPECT_EQ(linked, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(unlinked, (std::vector<int>{-1, 1, 2, 3}));
    // The driver knows nothing any more: every probe of a third run finds no PPA.
    const std::size_t before = cmdtest::trace(r).size();
    EXPECT_EQ(r.run_llc2({"-U"}).status, 0);
    const Trace t = cmdtest::trace(r);
    EXPECT_EQ(std::count_if(t.begin() + static_cast<long>(before), t.end(),
                            [](const std::string &l) { return l.ends_with(" ENOENT"); }),
              64);
}

// The status table's DLPI waits. An attach never answered costs one wait, a
// flush and no detach; a detach never answered leaves the row it ends as
// it is. Either way the driver stopped answering DLPI: the next PPA's row
// comes without the DLPI columns and without asking, and the run fails.
TEST(SilentDriver, StatusTableWaitsOutDlpiReplies)
{
    const struct {
        const char *faults;
        std::string rows;
        const char *steps;
        std::vector<std::pair<int, std::string>> debug; // after "Checking PPA n"
    } rows[] = {
        {R"([{"request":"attach","ppa":0,"noreply":true}])",
         "  0    up  0001 020000a1b2c3       ??     ??     ??   ??       xnic0\n"
         "  1    up  0002 020000a1b2c4       ??     ??     ??   ??       xnic1\n",
         "attach flush",
         {{0, "device_info: PPA (0) not responding\n"}}},
        {R"([{"request":"detach","ppa":0,"noreply":true}])",
         "  0    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic0\n"
         "  1    up  0002 020000a1b2c4       ??     ??     ??   ??       xnic1\n",
         "attach info detach flush",
         {{0, "device_info: PPA (0) not responding\n"}}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.faults);
        llc2test::SimRoot r;
        r.write_conf(0, llc2test::conf_text("xnic", 0));
        r.write_conf(1, llc2test::conf_text("xnic", 1));
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa":0,"state":4,"id":1},
                                    {"ppa":1,"instance":1,"state":4,"id":2}])");
        s["faults"] = json::parse(row.faults);
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-d"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n" +
                               row.rows);
        EXPECT_EQ(run.err, cmdtest::checking(row.debug));
        EXPECT_EQ(cmdtest::dlpi_steps(r), row.steps);
        // The first flush comes only when the wait for the request before it ran out.
        double sent = 0;
        double waited = 0;
        for (const json &rec : r.log()) {
            if (rec.value("kind", "") == "putmsg")
                sent = rec.value("t", 0.0);
            if (rec.value("kind", "") == "flush" && waited == 0)
                waited = rec.value("t", 0.0) - sent;
        }
        EXPECT_GE(waited, 9.5);
    }
}

} // namespace

namespace
{

// --apply with a PPA the driver will not enable: asked five times, then
// named as not up; the other PPA still comes up, and the PPA plumbed by
// this run is unplumbed again.
TEST(ApplyEnableRefused, NamesThePpaAndFails)
{
    llc2test::SimRoot r;
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    json s = llc2test::default_scenario();
    s["faults"] = json::array({{{"request", "enable"}, {"ppa", 1}, {"errno", "EBUSY"}}});
    r.start_sim(s);
    const llc2test::Run run = r.run_llc2({"--apply"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "PPA 0: plumbed and initialised\n");
    EXPECT_EQ(run.err, "Timeout initializing PPA 1: Device or resource busy\nPPA 1: not up\n");
    EXPECT_EQ(r.run_llc2({"--status"}).out,
              "PPA 0: up\nPPA 1: not plumbed (configured, llc2_on=1)\n");
}

} // namespace

namespace
{

long count_of(const std::vector<std::string> &trace, const std::string &what)
{
    return std::count_if(trace.begin(), trace.end(), [&what](const std::string &line) {
        return line.find(what) != std::string::npos;
    });
}

// A driver that leaves a probe unanswered is asked nothing more: one wait
// for the whole run, and every PPA not yet told cannot be told; a dry run
// says the same.
TEST(SilentDriver, OneUnansweredProbeEndsTheAsking)
{
    const std::string silent = "the driver does not answer";
    std::string every;
    std::string every_apply;
    for (int ppa = 0; ppa < 64; ++ppa) {
        every += "PPA " + std::to_string(ppa) + ": cannot tell (" + silent + ")\n";
        every_apply += "PPA " + std::to_string(ppa) +
                       ": cannot tell whether the driver holds it (" + silent +
                       "); left as it is\n";
    }
    const struct {
        const char *name;
        std::vector<int> configured;
        json fault;
        std::string status_out;
        std::string apply_out;
        std::string apply_err;
        long apply_probes;
    } cases[] = {
        {"every_probe",
         {},
         {{"request", "getppa"}, {"noreply", true}},
         every + "PPAs 0 to 63: cannot tell (" + silent + ")\n",
         "",
         every_apply,
         1},
        // Nothing is sent after the one unanswered probe: PPA 0 is not plumbed.
        {"probe_of_1",
         {0, 3},
         {{"request", "getppa"}, {"ppa", 1}, {"noreply", true}},
         "PPA 0: not plumbed (configured, llc2_on=1)\nPPA 3: cannot tell (" + silent +
             ")\nPPAs 1 to 63: cannot tell (" + silent + ")\n",
         "",
         "PPA 3: cannot tell whether the driver holds it (" + silent +
             "); left as it is\nPPA 0: not done, the driver does not answer\n",
         2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        llc2test::SimRoot r;
        const bool all = c.configured.empty();
        for (int ppa = 0; ppa < 64; ++ppa)
            if (all || std::count(c.configured.begin(), c.configured.end(), ppa) != 0)
                r.write_conf(ppa, llc2test::conf_text("xnic", ppa % 2));
        json s = llc2test::default_scenario();
        s["faults"] = json::array({c.fault});
        r.start_sim(s);
        const llc2test::Run status = r.run_llc2({"--status"});
        EXPECT_EQ(status.out, c.status_out);
        EXPECT_EQ(status.status, 4);
        const std::vector<std::string> first = cmdtest::trace(r);
        EXPECT_EQ(count_of(first, "GETPPA"), c.apply_probes);

        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.out, c.apply_out);
        EXPECT_EQ(apply.err, c.apply_err);
        EXPECT_EQ(apply.status, 255);
        const std::vector<std::string> both = cmdtest::trace(r);
        const std::vector<std::string> second(both.begin() + static_cast<long>(first.size()),
                                              both.end());
        EXPECT_EQ(count_of(second, "GETPPA"), c.apply_probes) << "no probe after the silence";
        EXPECT_EQ(count_of(second, "SETPPA"), 0) << "nothing sent after the silence";
        // The dry run foresees it from the same silence.
        const llc2test::Run dry = r.run_llc2({"--apply", "-n"});
        EXPECT_EQ(std::tuple(dry.out, dry.err, dry.status), std::tuple("", c.apply_err, 255));
    }
}

// --json: once a PPA's DLPI reply never comes, nothing more is asked by
// DLPI, not even that stream's detach, and every DLPI key is null.
TEST(SilentDriver, OneUnansweredDlpiReplyEndsTheDlpiAsking)
{
    llc2test::SimRoot r;
    json s = llc2test::default_scenario();
    s["ppas"] = json::array();
    for (int ppa = 0; ppa < 3; ++ppa)
        s["ppas"].push_back({{"ppa", ppa}, {"state", 4}});
    s["faults"] = json::array({{{"request", "info"}, {"noreply", true}}});
    r.start_sim(s);
    const llc2test::Run run = r.run_llc2({"--json"});
    EXPECT_EQ(run.status, 255) << "the document is whole, and the run failed";
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc.at("ppas").size(), 3U);
    for (const json &p : doc.at("ppas")) {
        EXPECT_EQ(p.at("state"), "up");
        for (const char *key : {"type", "max_sdu", "min_sdu", "mode"})
            EXPECT_TRUE(p.at(key).is_null()) << p;
    }
    EXPECT_EQ(cmdtest::dlpi_steps(r), "attach info");
}

} // namespace

namespace
{

// The real wait for another run, with no LLC2_LOCK_WAIT_MS: a run that finds
// the lock taken sends nothing while it waits, and acts once it is free.
TEST(RunLockWait, ActsOnceTheOtherRunEnds)
{
    llc2test::SimRoot r;
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    const int held =
        llc2test::hold_lock(r.path(std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2/.lock"));
    auto run = std::async(std::launch::async, [&r] { return r.run_llc2({"-p", "1"}); });
    EXPECT_EQ(run.wait_for(std::chrono::seconds(3)), std::future_status::timeout);
    EXPECT_EQ(r.log().size(), 0U);
    close(held);
    EXPECT_EQ(run.get().status, 0);
    EXPECT_EQ(r.run_llc2({"--status", "1"}).out, "PPA 1: up\n");
}

// A run whose lock is never freed sits out the whole 30 s before it gives
// up, and has sent nothing then.
TEST(RunLockWait, GivesUpOnlyAfterTheWholeWait)
{
    llc2test::SimRoot r;
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    const std::string lock = r.path(std::string(LLC2_RUNSTATEDIR).substr(1) + "/llc2/.lock");
    const int held = llc2test::hold_lock(lock);
    const auto start = std::chrono::steady_clock::now();
    const llc2test::Run run = r.run_llc2({"--apply"});
    const auto waited = std::chrono::steady_clock::now() - start;
    close(held);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "llc2: " + lock + ": in use by process " + std::to_string(getpid()) +
                           "; try again\n");
    EXPECT_GE(waited, std::chrono::seconds(29));
    EXPECT_EQ(r.log().size(), 0U);
}

} // namespace
