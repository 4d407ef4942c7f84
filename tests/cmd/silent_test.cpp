// SPDX-License-Identifier: Apache-2.0
// A driver that stops answering ends the run's asking: whichever request
// goes unanswered, nothing is sent after it, the run fails, and it costs one
// wait whatever the number of PPAs. A scan cut short is never "all well".
// The stream head's waits are made short here (LLC2_EMU_WAIT_MS); the slow
// tests keep the real ones.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

// Short, but long enough for every answer that does come, under qemu too.
const std::vector<std::string> SHORT_WAITS{"LLC2_EMU_WAIT_MS=" +
                                           std::to_string(500 * llc2test::time_factor())};
constexpr int PPAS = 16;

// What reached the driver after the first request it never answered:
// requests for dlpi_only false, DLPI messages only for dlpi_only true.
std::vector<std::string> sent_after_silence(const SimRoot &r, bool dlpi_only)
{
    std::vector<std::string> out;
    bool silent = false;
    for (const json &rec : r.log()) {
        const std::string kind = rec.value("kind", "");
        // An open counts: a stream opened for the next PPA is work begun.
        const bool request =
            kind == "ioctl" || kind == "link" || kind == "unlink" || kind == "open";
        if (silent && (dlpi_only ? kind == "putmsg" : request || kind == "putmsg"))
            out.push_back(rec.dump());
        // An ioctl left unanswered says so in its result, a DLPI message
        // (accepted by putmsg) in its fault.
        silent =
            silent || rec.value("result", "") == "noreply" || rec.value("fault", "") == "noreply";
    }
    return out;
}

// PPAS PPAs configured; up (by -P) when up is set.
void set_up(SimRoot &r, bool up, const json &fault)
{
    for (int ppa = 0; ppa < PPAS; ++ppa)
        r.write_conf(ppa, conf_text("xnic", ppa));
    json s = llc2test::default_scenario();
    r.start_sim(s);
    if (up) {
        ASSERT_EQ(r.run_llc2({"-P"}).status, 0);
    }
    ASSERT_EQ(r.stop_sim(), 0);
    // The same driver state again, now with the fault: llc2sim forgets its
    // state when it stops, so a driver with PPAs up is described to it.
    if (up) {
        s["ppas"] = json::array();
        for (int ppa = 0; ppa < PPAS; ++ppa)
            s["ppas"].push_back({{"ppa", ppa},
                                 {"instance", ppa},
                                 {"state", 4},
                                 {"id", ppa + 1},
                                 {"link_id", ppa + 1}});
    }
    s["faults"] = json::array({fault});
    r.start_sim(s);
}

TEST(SilentDriver, OneUnansweredRequestOfAnyKindEndsTheRun)
{
    const struct {
        const char *request; // never answered
        bool up;             // the PPAs are up to begin with, acktimer changed
        std::vector<std::string> args;
        int status;
        bool dlpi_only;        // only DLPI stops: the table's rows go on
        bool not_done = false; // --apply had work left when it stopped
        int ppa = -1;          // the request for this PPA only
    } cases[] = {
        // clang-format off
        {"plink", false, {"-P"}, 255, false},
        {"setppa", false, {"-P"}, 255, false},
        {"enable", false, {"-P"}, 255, false},
        {"init", false, {"-P"}, 255, false},
        {"getppa", false, {"-P"}, 255, false}, // the probe that records
        {"getppa", false, {"-P"}, 255, false, false, PPAS - 1}, // the last request of all
        {"getppa", false, {"-p", "0"}, 255, false},
        {"getppa", true, {"-i", "0"}, 255, false},
        {"plink", false, {"--apply"}, 255, false, true},
        {"enable", false, {"--apply"}, 255, false, true},
        {"init", false, {"--apply"}, 255, false, true},
        {"uninit", true, {"--apply"}, 255, false, true},
        {"disable", true, {"--apply"}, 255, false, true},
        {"getppa", true, {"--apply"}, 255, false},
        {"getlink", true, {"--apply"}, 255, false},
        {"uninit", true, {"-U"}, 255, false},
        {"enable", true, {"-i", "0"}, 255, false},
        {"getppa", true, {"-q"}, 255, false},
        {"getppa", true, {"--status"}, 4, false},
        {"getppa", true, {"--json"}, 255, false},
        {"attach", true, {"-q"}, 255, true},
        {"info", true, {"-q"}, 255, true},
        {"detach", true, {"-q"}, 255, true},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.request) + " " + c.args[0]);
        SimRoot r;
        json fault{{"request", c.request}, {"noreply", true}};
        if (c.ppa >= 0)
            fault["ppa"] = c.ppa;
        set_up(r, c.up, fault);
        if (c.up)
            for (int ppa = 0; ppa < PPAS; ++ppa) {
                cmdtest::seed_for_file(
                    r, ppa, conf_text("xnic", ppa), ppa + 1,
                    ppa_info{
                        0, 4, static_cast<std::uint16_t>(ppa + 1), {2, 0, 0, 0xa1, 0xb2, 0xc3}},
                    "both");
                r.write_conf(ppa, cmdtest::with_line(conf_text("xnic", ppa), "acktimer=4"));
            }
        const llc2test::Run run = r.run_llc2(c.args, SHORT_WAITS);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(sent_after_silence(r, c.dlpi_only), std::vector<std::string>{});
        if (c.dlpi_only) { // every row still shown, without the DLPI columns
            EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1 + PPAS);
        }
        if (c.not_done) {
            EXPECT_NE(run.err.find(": not done, the driver does not answer\n"), std::string::npos)
                << run.err;
        }
    }
}

// The scan over 0 to 63 cut short at PPA 2, with PPA 5 plumbed by someone
// else: refused, the rest is asked one by one and PPA 5 found; unanswered,
// nothing after it is known, and neither --status nor --prune nor -U calls
// that all well.
TEST(SilentDriver, AScanCutShortIsNeverAllWell)
{
    const struct {
        const char *fault;
        std::string status_out;
        int status;
        int apply_prune, unplumb_all;
        bool five_down; // --apply --prune took PPA 5 down
    } cases[] = {
        {R"({"request":"getppa","ppa":2,"errno":"EIO"})",
         "PPA 0: up\nPPA 5: up (plumbed but not configured)\n", 3, 0, 0, true},
        {R"({"request":"getppa","ppa":2,"noreply":true})",
         "PPA 0: up\nPPAs 2 to 63: cannot tell (the driver does not answer)\n", 4, 255, 255, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa":0,"state":4,"id":1,"link_id":1},
                                    {"ppa":5,"state":4,"id":6,"link_id":6}])");
        s["faults"] = json::array({json::parse(c.fault)});
        r.start_sim(s);
        cmdtest::seed_for_file(r, 0, conf_text("xnic", 0), 1,
                               ppa_info{0, 4, 1, {2, 0, 0, 0xa1, 0xb2, 0xc3}}, "both");
        const llc2test::Run status = r.run_llc2({"--status"}, SHORT_WAITS);
        EXPECT_EQ(status.out, c.status_out);
        EXPECT_EQ(status.status, c.status);
        const json doc = json::parse(r.run_llc2({"--json"}, SHORT_WAITS).out);
        EXPECT_EQ(doc.at("unasked").is_null(), c.status != 4) << doc.at("unasked");
        const llc2test::Run prune = r.run_llc2({"--apply", "--prune"}, SHORT_WAITS);
        EXPECT_EQ(prune.status, c.apply_prune) << prune.err;
        EXPECT_EQ(prune.out.find("PPA 5: taken down") != std::string::npos, c.five_down);
        EXPECT_EQ(r.run_llc2({"-U"}, SHORT_WAITS).status, c.unplumb_all);
    }
}

} // namespace
