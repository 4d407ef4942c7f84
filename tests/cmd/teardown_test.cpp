// SPDX-License-Identifier: Apache-2.0
// -r and -u against llc2sim: the exact requests on the wire, in order, and
// what the administrator sees when the driver refuses them.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using cmdtest::payload;
using cmdtest::words;
using llc2test::SimRoot;
using nlohmann::json;

// The request codes written out, so that a wrong constant in the tool's
// header cannot agree with itself.
constexpr int IOC_DISABLE = 2;
constexpr int IOC_CONTROL = 0x49000008;
constexpr int IOC_GETLINK = 0x4C00000A;
constexpr std::uint32_t CTL_UNINIT = 0x4C000002;

void expect_ioctl(const json &rec, int cmd, const std::vector<unsigned char> &bytes,
                  const char *result = "ok") // nullptr: whatever the driver said
{
    SCOPED_TRACE(rec.dump());
    EXPECT_EQ(rec.value("kind", ""), "ioctl");
    EXPECT_EQ(rec.value("ic_cmd", 0), cmd);
    EXPECT_EQ(rec.value("ic_timout", 0), 10);
    EXPECT_EQ(rec.value("ic_len", 0), static_cast<int>(bytes.size()));
    EXPECT_EQ(payload(rec), bytes);
    if (result != nullptr) {
        EXPECT_EQ(rec.value("result", ""), result);
    }
}

std::vector<unsigned char> uninit_bytes(std::uint32_t ppa)
{
    return words({ppa, CTL_UNINIT});
}
std::vector<unsigned char> disable_bytes(std::uint32_t ppa)
{
    return words({0, ppa});
}
std::vector<unsigned char> getlink_bytes(std::uint32_t ppa)
{
    return words({ppa, 15, 0, 0});
}

json with_ppa(int ppa, int link_id, json faults = json::array())
{
    json s = llc2test::default_scenario();
    s["ppas"] =
        json::array({{{"ppa", ppa}, {"interface", "xnic"}, {"instance", 0}, {"link_id", link_id}}});
    s["faults"] = std::move(faults);
    return s;
}

TEST(Uninit, SendsControlMessageThenDisableForThePpa)
{
    // The number goes to the driver as given, negative and extreme ones too;
    // the driver is the one to refuse them.
    const struct {
        const char *arg;
        std::uint32_t word;
    } cases[] = {
        {"3", 3},
        {"007", 7},
        {"-0", 0},
        {"-1", 0xffffffffU},
        {"2147483647", 0x7fffffffU},
        {"-2147483648", 0x80000000U},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arg);
        SimRoot r;
        r.start_sim();
        const llc2test::Run run = r.run_llc2({"-r", c.arg});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(r.log("open").size(), 1U);
        const std::vector<json> reqs = cmdtest::requests(r);
        ASSERT_EQ(reqs.size(), 2U);
        expect_ioctl(reqs[0], IOC_CONTROL, uninit_bytes(c.word), nullptr);
        expect_ioctl(reqs[1], IOC_DISABLE, disable_bytes(c.word), nullptr);
    }
}

TEST(Unplumb, UnlinksTheReportedIdAfterAPause)
{
    SimRoot r;
    // Link 7 was made by some earlier run; nothing in this process knows it.
    r.start_sim(with_ppa(2, 7));
    cmdtest::seed_record(r, 2, {"xnic", 0, 7}, nullptr);
    EXPECT_TRUE(cmdtest::applied_of(r, 2));
    const llc2test::Run run = r.run_llc2({"-u", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(cmdtest::applied_of(r, 2)) << "its record goes with it";

    const std::vector<json> reqs = cmdtest::requests(r);
    ASSERT_EQ(reqs.size(), 4U);
    expect_ioctl(reqs[0], IOC_CONTROL, uninit_bytes(2));
    expect_ioctl(reqs[1], IOC_DISABLE, disable_bytes(2));
    expect_ioctl(reqs[2], IOC_GETLINK, getlink_bytes(2));
    EXPECT_EQ(reqs[3].value("kind", ""), "unlink");
    EXPECT_EQ(reqs[3].value("link_id", -1), 7);
    EXPECT_EQ(reqs[3].value("result", ""), "ok");
    // All on the one control stream.
    for (const json &rec : reqs)
        EXPECT_EQ(rec.value("stream", -1), reqs[0].value("stream", -2));
    EXPECT_EQ(r.log("open").size(), 1U);
    // The driver gets its second between disabling and unlinking.
    EXPECT_GE(reqs[2].value("t", 0.0) - reqs[1].value("t", 0.0), 0.9);

    // Gone now: a second -u finds no link and says so.
    const llc2test::Run again = r.run_llc2({"-u", "2"});
    EXPECT_EQ(again.status, 255);
    EXPECT_TRUE(again.err.starts_with("Error getting info from PPA 2: ")) << again.err;
    EXPECT_EQ(r.log("unlink").size(), 1U);
}

// One expected request: an ioctl (cmd, payload) or, with cmd 0, the unlink
// of link_id; and what the driver answered.
struct Step {
    int cmd;
    std::vector<unsigned char> bytes;
    int link_id;
    const char *result;
};

Step ioctl(int cmd, std::vector<unsigned char> bytes, const char *result = "ok")
{
    return {cmd, std::move(bytes), -1, result};
}
Step unlink(int link_id, const char *result = "ok")
{
    return {0, {}, link_id, result};
}

TEST(Teardown, RefusalsOnTheWayDown)
{
    struct Case {
        const char *name;
        std::vector<std::string> args;
        json scenario;
        int status;
        std::string err;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"-r: refusals are ignored and disable still goes out",
         {"-r", "2"},
         with_ppa(2, 7,
                  {{{"request", "uninit"}, {"errno", "EINVAL"}},
                   {{"request", "disable"}, {"errno", "EIO"}}}),
         0,
         "",
         {ioctl(IOC_CONTROL, uninit_bytes(2), "EINVAL"),
          ioctl(IOC_DISABLE, disable_bytes(2), "EIO")}},
        {"-u: a refused uninitialisation does not stop the unplumbing",
         {"-u", "5"},
         with_ppa(5, 42, {{{"request", "uninit"}, {"errno", "EINVAL"}}}),
         0,
         "",
         {ioctl(IOC_CONTROL, uninit_bytes(5), "EINVAL"), ioctl(IOC_DISABLE, disable_bytes(5)),
          ioctl(IOC_GETLINK, getlink_bytes(5)), unlink(42)}},
        {"-u: no link identifier, no unlink",
         {"-u", "2"},
         with_ppa(2, 7, {{{"request", "getlink"}, {"ppa", 2}, {"errno", "EIO"}}}),
         255,
         "Error getting info from PPA 2: Input/output error\n",
         {ioctl(IOC_CONTROL, uninit_bytes(2)), ioctl(IOC_DISABLE, disable_bytes(2)),
          ioctl(IOC_GETLINK, getlink_bytes(2), "EIO")}},
        {"-u: the unlink refused",
         {"-u", "2"},
         with_ppa(2, 7, {{{"request", "punlink"}, {"errno", "EINVAL"}}}),
         255,
         "Error unplumbing PPA 2: Invalid argument\n",
         {ioctl(IOC_CONTROL, uninit_bytes(2)), ioctl(IOC_DISABLE, disable_bytes(2)),
          ioctl(IOC_GETLINK, getlink_bytes(2)), unlink(7, "EINVAL")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.start_sim(c.scenario);
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        const std::vector<json> reqs = cmdtest::requests(r);
        ASSERT_EQ(reqs.size(), c.steps.size());
        for (std::size_t i = 0; i < reqs.size(); ++i) {
            const Step &want = c.steps[i];
            if (want.cmd != 0) {
                expect_ioctl(reqs[i], want.cmd, want.bytes, want.result);
                continue;
            }
            EXPECT_EQ(reqs[i].value("kind", ""), "unlink");
            EXPECT_EQ(reqs[i].value("link_id", -1), want.link_id);
            EXPECT_EQ(reqs[i].value("result", ""), want.result);
        }
    }
}

TEST(Teardown, NoDriverMeansStatus255AndTheReason)
{
    // -q too: the status table has nothing to show without the driver.
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-r", "0"}, {"-u", "0"}, {"-q"}}) {
        SCOPED_TRACE(args.front());
        SimRoot none; // no llc2sim: /dev/llc2 does not exist
        const llc2test::Run missing = none.run_llc2(args);
        EXPECT_EQ(missing.status, 255);
        EXPECT_EQ(missing.err, "Cannot open LLC2 device: No such file or directory\n");

        SimRoot refusing;
        json s = llc2test::default_scenario();
        s["faults"] = json::array({{{"request", "open"}, {"device", "llc2"}, {"errno", "ENXIO"}}});
        refusing.start_sim(s);
        const llc2test::Run refused = refusing.run_llc2(args);
        EXPECT_EQ(refused.status, 255);
        EXPECT_EQ(refused.err, "Cannot open LLC2 device: No such device or address\n");
        EXPECT_TRUE(cmdtest::requests(refusing).empty());
    }
}

} // namespace
