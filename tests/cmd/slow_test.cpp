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
