// A driver that never answers: every request waits out its ten seconds and
// then counts as refused. Real waits, so these carry the label "slow".
#include "cmd_test_util.h"

#include <gtest/gtest.h>

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

TEST(SilentDriver, UninitialisingWaitsOutTheControlMessageAndStillDisables)
{
    llc2test::SimRoot r;
    r.start_sim(silent_on("uninit"));
    const llc2test::Run run = r.run_llc2({"-r", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<json> reqs = cmdtest::requests(r);
    ASSERT_EQ(reqs.size(), 2U);
    EXPECT_EQ(reqs[0].value("result", ""), "noreply");
    EXPECT_EQ(reqs[1].value("ic_cmd", 0), 2); // LLC2_IOC_DISABLE
    EXPECT_GE(reqs[1].value("t", 0.0) - reqs[0].value("t", 0.0), 9.5);
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

} // namespace

// The status table's DLPI waits: an attach never answered costs one wait
// and no detach, and the next PPA's exchange is whole.
TEST(SilentDriver, StatusTableWaitsOutDlpiReplies)
{
    const std::string header =
        "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n";
    struct Row {
        const char *name;
        json fault;
        std::string rows;
        std::string steps;
        std::string debug0; // what -d says after "Checking PPA 0"
        std::string debug1; // and after "Checking PPA 1"
    };
    const Row rows[] = {
        {"attach",
         {{"request", "attach"}, {"ppa", 0}, {"noreply", true}},
         "  0    up  0001 020000a1b2c3       ??     ??     ??   ??       xnic0\n"
         "  1    up  0002 020000a1b2c4 ethernet   1500      1    1       xnic1\n",
         "attach flush attach info detach",
         "device_info: PPA (0) not responding\n",
         ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        llc2test::SimRoot r;
        r.write_conf(0, llc2test::conf_text("xnic", 0));
        r.write_conf(1, llc2test::conf_text("xnic", 1));
        json s = llc2test::default_scenario();
        s["ppas"] = json::array({{{"ppa", 0}, {"state", 4}, {"id", 1}},
                                 {{"ppa", 1}, {"instance", 1}, {"state", 4}, {"id", 2}}});
        s["faults"] = json::array({row.fault});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({"-d"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, header + row.rows);
        std::string want = "Checking PPA 0\n" + row.debug0 + "Checking PPA 1\n" + row.debug1;
        for (int ppa = 2; ppa < 64; ++ppa)
            want += "Checking PPA " + std::to_string(ppa) + "\n";
        EXPECT_EQ(run.err, want);

        std::string steps;
        double waited = 0;
        double sent = 0;
        for (const json &rec : r.log()) {
            const std::string kind = rec.value("kind", "");
            if (kind == "putmsg")
                sent = rec.value("t", 0.0);
            if (kind == "flush" && waited == 0)
                waited = rec.value("t", 0.0) - sent;
            if (kind == "putmsg" || kind == "flush")
                steps += (steps.empty() ? "" : " ") +
                         (kind == "flush" ? kind : rec.value("request", "?"));
        }
        EXPECT_EQ(steps, row.steps);
        EXPECT_GE(waited, 9.5) << "the first flush came without waiting for the reply";
    }
}
