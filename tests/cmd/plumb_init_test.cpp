// SPDX-License-Identifier: Apache-2.0
// -p and -i against llc2sim: what reaches the driver, in order, and what the
// administrator reads, for each way plumbing and initialising can go.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using nlohmann::json;
using Trace = std::vector<std::string>;

// A file for PPA 3 on xnic instance 1 whose numeric settings but llc2_on are
// all value.
std::string conf_all(int value, int llc2_on = 1)
{
    std::string s = "devicename=xnic\ndeviceinstance=1\nllc2_on=" + std::to_string(llc2_on) + "\n";
    for (const char *key :
         {"deviceloopback", "timeinterval", "acktimer", "rsptimer", "polltimer", "rejecttimer",
          "rembusytimer", "inacttimer", "maxretry", "xmitwindowsz", "rcvwindowsz"})
        s += std::string(key) + "=" + std::to_string(value) + "\n";
    return s;
}

struct Case {
    const char *args;  // "-p" or "-i", with "d" for -d: "-dp"
    std::string conf;  // PPA 3's file; "" for none
    const char *fault; // request refused with EBUSY, or ""
    int status;
    std::string err; // "{root}" stands for the test's root
    Trace trace;
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.args) + " " + c.err);
        llc2test::SimRoot r;
        if (!c.conf.empty())
            r.write_conf(3, c.conf);
        json s = llc2test::default_scenario();
        // -i finds PPA 3 plumbed already; -p finds link 1 taken, so its link is 2.
        s["ppas"] = std::string(c.args).ends_with('i')
                        ? json::parse(R"([{"ppa": 3, "instance": 1}])")
                        : json::parse(R"([{"ppa": 0, "link_id": 1}])");
        if (*c.fault != '\0')
            s["faults"] = json::array({{{"request", c.fault}, {"errno", "EBUSY"}}});
        r.start_sim(s);
        const llc2test::Run run = r.run_llc2({c.args, "3"});
        EXPECT_EQ(run.status, c.status);
        std::string err = c.err;
        if (const std::size_t at = err.find("{root}"); at != std::string::npos)
            err.replace(at, 6, r.root());
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(cmdtest::trace(r), c.trace);
    }
}

Trace with(Trace t, const Trace &more)
{
    t.insert(t.end(), more.begin(), more.end());
    return t;
}

const std::string busy = ": Device or resource busy\n";
const std::string defaults = " 2 4 6 8 30 6 14 14 0 2 ";

TEST(PlumbOne, Outcomes)
{
    const std::string fits(1018, 'n'); // "/dev/" and this fill the 1024-byte path
    const std::string too_long(1019, 'n');
    const Trace plumbed{"a open llc2",          "b open xnic", "a PLINK xnic 2 ok",
                        "a SETPPA 3 15 2 1 ok", "c open llc2", "c ENABLE -1 3 ok"};
    // clang-format off
    run_cases({
        {"-dp", conf_all(0), "", 0, "Plumbing PPA 3: xnic(1)\n",
         with(plumbed, {"c INIT 3" + defaults + "ok", "c GETPPA 3 ok"})},
        {"-dp", conf_all(1, 0), "", 255, "Skip plumbing PPA 3.\nCannot plumb PPA 3\n", {"a open llc2"}},
        {"-dp", "devicename=xnic\n", "", 255,
         "Cannot find all required keywords.\nInvalid configuration file llc2.3\nCannot plumb PPA 3\n", {"a open llc2"}},
        {"-dp", llc2test::conf_text("nosuch", 0), "", 255, "Plumbing PPA 3: nosuch(0)\nError opening device "
         "{root}/dev/nosuch: No such file or directory\nCannot plumb PPA 3\n", {"a open llc2"}},
        // Without -d a device that does not open is not reported.
        {"-p", llc2test::conf_text(fits, 0), "", 255, "Cannot plumb PPA 3\n", {"a open llc2"}},
        {"-p", llc2test::conf_text(too_long, 0), "", 255,
         "Device name too long: " + too_long + "\nCannot plumb PPA 3\n", {"a open llc2"}},
        {"-p", conf_all(0), "plink", 255, "Error plumbing {root}/dev/xnic" + busy + "Cannot plumb PPA 3\n",
         {"a open llc2", "b open xnic", "a PLINK xnic -1 EBUSY"}},
        // The link just made is removed, not any other.
        {"-p", conf_all(0), "setppa", 255, "Error setting PPA(3) on {root}/dev/xnic" + busy + "Cannot plumb PPA 3\n",
         {"a open llc2", "b open xnic", "a PLINK xnic 2 ok", "a SETPPA 3 15 2 1 EBUSY", "a PUNLINK 2 ok"}},
        // Parameters refused: -p takes the PPA down again.
        {"-p", conf_all(0), "init", 255, "Error initialization PPA 3\n",
         with(plumbed, {"c INIT 3" + defaults + "EBUSY", "c GETLINK 3 15 0 0 ok", "c PUNLINK 2 ok"})},
    });
    // clang-format on
}

TEST(InitOne, Outcomes)
{
    // clang-format off
    run_cases({
        {"-i", conf_all(0), "", 0, "", {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3" + defaults + "ok", "a GETPPA 3 ok"}},
        {"-i", conf_all(65536), "", 0, "", {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3" + defaults + "ok", "a GETPPA 3 ok"}},
        // Cut to 1; and a PPA switched off is initialised when asked for.
        {"-i", conf_all(65537, 0), "", 0, "", {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3 1 1 1 1 1 1 1 1 1 1 ok", "a GETPPA 3 ok"}},
        {"-i", "", "", 255, "Cannot open {root}/etc/llc2/default/llc2.3: No such file or directory\n"
         "Cannot open configuration files for PPA 3\n", {"a open llc2"}},
        {"-i", "acktimer=x\n", "", 255, "Invalid line: acktimer=x\n\nError reading parameters for PPA 3\n",
         {"a open llc2"}},
        // The PPA stays enabled.
        {"-i", conf_all(0), "init", 255, "Error initialization PPA 3\n",
         {"a open llc2", "a ENABLE -1 3 ok", "a INIT 3" + defaults + "EBUSY"}},
    });
    // clang-format on
}

} // namespace
