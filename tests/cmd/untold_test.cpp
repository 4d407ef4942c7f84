// SPDX-License-Identifier: Apache-2.0
// What the driver did not answer is never taken for "not plumbed": --status,
// --json and --apply against llc2sim when a probe is refused, when a PPA lies
// beyond the scan, and when its number cannot be asked about at all.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

struct Case {
    const char *name;
    std::vector<int> on; // configured and switched on
    const char *held;    // the driver's PPAs
    const char *faults;
    std::vector<std::string> status_args; // after --status
    const char *status_out;
    int status_exit;
    const char *states; // --json's "state" of each PPA, space-separated
    const char *apply_out;
    const char *apply_err;
    int apply_exit;
};

// Held and up, each with the record a run that brought it up would have left.
const char *const UP_0_3 =
    R"([{"ppa":0,"state":4,"id":16,"link_id":50},{"ppa":3,"state":4,"id":19,"link_id":53}])";
const char *const EIO_ON_2 = R"([{"request":"getppa","ppa":2,"errno":"EIO"}])";

const Case cases[] = {
    // clang-format off
    // The scan ends at PPA 2's refusal; PPA 3 is asked on its own and is up.
    {"refused_before", {0, 3}, UP_0_3, EIO_ON_2, {}, "PPA 0: up\nPPA 3: up\n", 0,
     "up up", "", "", 0},
    {"refused_before_named", {0, 3}, UP_0_3, EIO_ON_2, {"3"}, "PPA 3: up\n", 0,
     "up up", "", "", 0},
    // Asked again on its own, PPA 2 is refused again: nobody can tell.
    {"refused_itself", {0, 2, 3}, UP_0_3, EIO_ON_2, {},
     "PPA 0: up\nPPA 2: cannot tell (Input/output error)\nPPA 3: up\n", 4,
     "up unknown up", "",
     "PPA 2: cannot tell whether the driver holds it (Input/output error); left as it is\n", 255},
    // Refused once: the second asking tells, and PPA 2 is plumbed.
    {"refused_once", {2}, "[]", R"([{"request":"getppa","ppa":2,"errno":"EIO","count":1}])", {},
     "PPA 2: not plumbed (configured, llc2_on=1)\n", 3, "null",
     "PPA 2: plumbed and initialised\n", "", 0},
    // Beyond the scan, within what the request carries.
    {"beyond_the_scan_up", {100}, R"([{"ppa":100,"state":4,"id":30,"link_id":60}])", "[]", {},
     "PPA 100: up\n", 0, "up", "", "", 0},
    {"beyond_the_scan_down", {100}, R"([{"ppa":100,"state":0,"id":30,"link_id":60}])", "[]", {},
     "PPA 100: down (configured, llc2_on=1)\n", 3, "down", "PPA 100: initialised\n", "", 0},
    {"beyond_the_scan_free", {255}, "[]", "[]", {},
     "PPA 255: not plumbed (configured, llc2_on=1)\n", 3, "null",
     "PPA 255: plumbed and initialised\n", "", 0},
    // Beyond what it carries: never asked.
    {"beyond_the_request", {256}, "[]", "[]", {},
     "PPA 256: cannot tell (the driver cannot be asked about a PPA outside 0 to 255)\n", 4,
     "unknown", "",
     "PPA 256: cannot tell whether the driver holds it (the driver cannot be asked about a PPA "
     "outside 0 to 255); left as it is\n", 255},
    // A file whose number no request carries: never plumbed on a guess.
    {"below_the_request", {-1}, "[]", "[]", {},
     "PPA -1: cannot tell (the driver cannot be asked about a PPA outside 0 to 255)\n", 4,
     "unknown", "",
     "PPA -1: cannot tell whether the driver holds it (the driver cannot be asked about a PPA "
     "outside 0 to 255); left as it is\n", 255},
    {"named_not_configured", {}, "[]", EIO_ON_2, {"5"}, "PPA 5: not configured\n", 3, "", "", "",
     0},
    // clang-format on
};

// The links made (I_PLINK) among the requests after the first skip.
long setppas(const SimRoot &r, std::size_t skip)
{
    const std::vector<std::string> all = cmdtest::trace(r);
    return std::count_if(
        all.begin() + static_cast<long>(skip), all.end(),
        [](const std::string &l) { return l.find(" PLINK ") != std::string::npos; });
}

TEST(Untold, StatusJsonAndApply)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        for (const int ppa : c.on)
            r.write_conf(ppa, conf_text("xnic", std::abs(ppa % 2)));
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(c.held);
        s["faults"] = json::parse(c.faults);
        r.start_sim(s);
        for (const json &held : s["ppas"])
            if (held.contains("link_id"))
                cmdtest::seed_for_file(
                    r, held["ppa"], conf_text("xnic", std::abs(held["ppa"].get<int>() % 2)),
                    held["link_id"], ppa_info{0, 4, held["id"], {2, 0, 0, 0xa1, 0xb2, 0xc3}},
                    "both");

        std::vector<std::string> args{"--status"};
        args.insert(args.end(), c.status_args.begin(), c.status_args.end());
        const llc2test::Run status = r.run_llc2(args);
        EXPECT_EQ(status.out, c.status_out);
        EXPECT_EQ(status.err, "");
        EXPECT_EQ(status.status, c.status_exit);

        const llc2test::Run js = r.run_llc2({"--json"});
        EXPECT_EQ(js.status, 0);
        std::string states;
        const json doc = json::parse(js.out);
        for (const json &p : doc.at("ppas")) {
            const json &state = p.at("state");
            states +=
                (states.empty() ? "" : " ") + (state.is_null() ? "null" : state.get<std::string>());
            // Only a PPA that was told can be judged.
            EXPECT_EQ(p.at("as_configured").is_null(), state == "unknown") << p;
        }
        EXPECT_EQ(states, c.states);

        const std::size_t before = cmdtest::trace(r).size();
        const llc2test::Run apply = r.run_llc2({"--apply"});
        EXPECT_EQ(apply.out, c.apply_out);
        EXPECT_EQ(apply.err, c.apply_err);
        EXPECT_EQ(apply.status, c.apply_exit);
        // No second link beneath a PPA that is held or untold.
        EXPECT_EQ(setppas(r, before),
                  std::string(c.apply_out).find("plumbed") != std::string::npos);
    }
}

// A PPA above the scan, plumbed with -p, is seen and left alone afterwards.
TEST(Untold, PlumbedAboveTheScanStaysKnown)
{
    SimRoot r;
    r.write_conf(100, conf_text("xnic", 1));
    r.start_sim();
    ASSERT_EQ(r.run_llc2({"-p", "100"}).status, 0);
    EXPECT_EQ(r.run_llc2({"--status"}).out, "PPA 100: up\n");
    const std::size_t before = cmdtest::trace(r).size();
    EXPECT_EQ(r.run_llc2({"--apply"}).status, 0);
    EXPECT_EQ(setppas(r, before), 0);
}

} // namespace
