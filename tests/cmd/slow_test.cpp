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

// The status table's DLPI waits. An attach never answered costs one wait, a
// flush and no detach, and the next PPA's exchange is whole. A detach never
// answered leaves the stream attached: the next PPA's attach meets it as the
// driver left it (DL_OUTSTATE), and the table still ends.
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
         "  1    up  0002 020000a1b2c4 ethernet   1500      1    1       xnic1\n",
         "attach flush attach info detach",
         {{0, "device_info: PPA (0) not responding\n"}}},
        {R"([{"request":"detach","ppa":0,"noreply":true}])",
         "  0    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic0\n"
         "  1    up  0002 020000a1b2c4       ??     ??     ??   ??       xnic1\n",
         "attach info detach flush attach flush",
         {{0, "device_info: PPA (0) not responding\n"},
          {1, "device_info: wrong reply primitive: 5\n"}}},
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
        EXPECT_EQ(run.status, 0);
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
