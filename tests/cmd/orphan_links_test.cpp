// SPDX-License-Identifier: Apache-2.0
// Links left linked under no PPA: the journal llc2 keeps of a link from
// before I_PLINK to SETPPA, what --status and --json tell of one, and -P,
// -U and --apply removing it, judged by llc2sim's own account of its links.
#include "cmd_test_util.h"
#include "link_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <tuple>
#include <unistd.h>

namespace
{

using llc2test::SimRoot;
using nlohmann::json;

// "id/device/ppa" of each link llc2sim holds, in order ("null" for none),
// from the state line it writes on SIGUSR1.
std::string links_now(const SimRoot &r)
{
    const json state = r.state();
    if (state.is_null())
        return "(no state line)";
    std::string out;
    for (const json &l : state.value("links", json::array()))
        out += (out.empty() ? "" : " ") + std::to_string(l.value("link_id", -2)) + "/" +
               l.value("lower_device", "?") + "/" + l["ppa"].dump();
    return out;
}

// The value of the series name, which has no labels, in an exposition;
// "absent" when it has no such series.
std::string series_value(const std::string &text, const std::string &name)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(name + " "))
            return line.substr(name.size() + 1);
    return "absent";
}

// Runs args under r and checks what it says (for --json, the dump of key
// alone; for --metrics, the value of the series llc2_<key>, or "absent"),
// its status and the links llc2sim holds after it.
void expect_run(const SimRoot &r, const std::vector<std::string> &args, const char *key, int status,
                const std::string &out, const std::string &err, const std::string &links_after)
{
    const llc2test::Run run = r.run_llc2(args);
    if (args[0] == "--json") {
        EXPECT_EQ(json::parse(run.out).value(key, json("absent")).dump(), out);
    } else if (args[0] == "--metrics") {
        EXPECT_EQ(series_value(run.out, "llc2_" + std::string(key)), out);
    } else {
        EXPECT_EQ(run.out, out);
    }
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(links_now(r), links_after);
}

// The journal's link identifiers as llc2 under r lists them: "2 5".
std::string journal_of(const SimRoot &r)
{
    return cmdtest::under_root(r, [] {
        std::string out;
        for (const journaled_link &e : journaled_links())
            out += (out.empty() ? "" : " ") + std::to_string(e.link_id);
        return out;
    });
}

// The intents in r's run-state directory: links that may be held.
int unknown_of(const SimRoot &r)
{
    return cmdtest::under_root(r, [] { return unknown_links(); });
}

// A run of llc2 -p 0 killed (SIGKILL) once llc2sim has logged the request
// whose trace has step (" SETPPA "), held back by a fault.
void kill_plumbing_at(const SimRoot &r, const char *step)
{
    ASSERT_TRUE(cmdtest::kill_llc2_at(r, {"-p", "0"}, step)) << "no" << step << "reached llc2sim";
}

// Killed while its SETPPA waits for an answer that never comes (llc2sim has
// logged it, so the fault is spent): the journal shows the link before the
// kill, and no intent is left beside it.
void kill_plumbing(const SimRoot &r)
{
    const std::string entry = cmdtest::under_root(r, [] { return applied_dir(); }) + "/link.1";
    kill_plumbing_at(r, " SETPPA ");
    ASSERT_EQ(access(entry.c_str(), F_OK), 0) << "no journal entry while SETPPA was pending";
    EXPECT_EQ(unknown_of(r), 0);
    EXPECT_EQ(links_now(r), "1/xnic/null");
}

TEST(OrphanLinks, AKilledPlumbIsToldAndThenUnlinked)
{
    SimRoot r;
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    json s = llc2test::default_scenario();
    s["faults"] = json::parse(R"([{"request": "setppa", "noreply": true, "count": 1}])");
    r.start_sim(s);
    kill_plumbing(r);

    const llc2test::Run status = r.run_llc2({"--status"});
    EXPECT_EQ(status.out, "PPA 0: not plumbed (configured, llc2_on=1)\n"
                          "Link 1: left linked by an interrupted run\n");
    EXPECT_EQ(status.status, 3);
    const llc2test::Run doc = r.run_llc2({"--json"});
    EXPECT_EQ(json::parse(doc.out).at("orphan_links"), json::parse("[1]")) << doc.out;
    EXPECT_EQ(json::parse(doc.out).at("unknown_links"), 0) << doc.out;
    EXPECT_EQ(links_now(r), "1/xnic/null") << "telling changes nothing";

    const llc2test::Run apply = r.run_llc2({"--apply"});
    EXPECT_EQ(apply.out, "Link 1: unlinked (left by an interrupted run)\n"
                         "PPA 0: plumbed and initialised\n");
    EXPECT_EQ(apply.err, "");
    EXPECT_EQ(apply.status, 0);
    EXPECT_EQ(links_now(r), "2/xnic/0");
    EXPECT_EQ(journal_of(r), "") << "bound links leave no entry";
    EXPECT_EQ(r.run_llc2({"--status"}).out, "PPA 0: up\n");
}

// Killed while llc2sim holds back I_PLINK's answer: the link is made and no
// file knows its identifier. Each step in turn on the same driver; for
// --json and --metrics, out is "unknown_links".
TEST(OrphanLinks, ALinkOfUnknownIdentifierIsToldUntilMinusUTakesIt)
{
    SimRoot r;
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    json s = llc2test::default_scenario();
    // The second unlink is -U's first I_PUNLINK of MUXID_ALL.
    s["faults"] = json::parse(R"([{"request": "plink", "delay_ms": 60000, "count": 1},
        {"request": "punlink", "skip": 1, "errno": "EBUSY", "count": 1}])");
    r.start_sim(s);
    kill_plumbing_at(r, " PLINK ");
    ASSERT_EQ(links_now(r), "1/xnic/null");
    EXPECT_EQ(journal_of(r), "");

    const std::string held = "Links made by an interrupted run may be held (identifier not "
                             "known); llc2 -U removes them\n";
    const std::string down = "PPA 0: not plumbed (configured, llc2_on=1)\n";
    const char *busy = "Error unlinking every link: Device or resource busy\n";
    struct step {
        std::vector<std::string> args;
        int status;
        std::string out;
        const char *err;
        const char *links_after;
        int unknown_after;
    };
    const step steps[] = {
        {{"--status"}, 3, down + held, "", "1/xnic/null", 1},
        {{"--json"}, 0, "1", "", "1/xnic/null", 1},
        {{"--metrics"}, 0, "1", "", "1/xnic/null", 1},
        {{"--metrics", "0"}, 0, "absent", "", "1/xnic/null", 1},
        // It cannot find the link: the link stays, and so does its intent,
        // which its own intent for PPA 0 did not replace.
        {{"--apply"}, 0, "PPA 0: plumbed and initialised\n", "", "1/xnic/null 2/xnic/0", 1},
        // The line alone makes a 3 of what would be a 0.
        {{"--status"}, 3, "PPA 0: up\n" + held, "", "1/xnic/null 2/xnic/0", 1},
        {{"--status", "0"}, 0, "PPA 0: up\n", "", "1/xnic/null 2/xnic/0", 1},
        {{"-U"}, 255, "", busy, "1/xnic/null", 1},
        {{"-U"}, 0, "", "", "", 0},
        {{"--apply"}, 0, "PPA 0: plumbed and initialised\n", "", "3/xnic/0", 0},
        {{"--status"}, 0, "PPA 0: up\n", "", "3/xnic/0", 0},
        {{"--json"}, 0, "0", "", "3/xnic/0", 0},
        {{"--metrics"}, 0, "0", "", "3/xnic/0", 0},
    };
    for (const step &st : steps) {
        SCOPED_TRACE(st.args[0] + " then " + st.links_after);
        expect_run(r, st.args, "unknown_links", st.status, st.out, st.err, st.links_after);
        EXPECT_EQ(unknown_of(r), st.unknown_after);
    }
}

// What a plumb leaves in the run-state directory when it ends: an intent
// only while I_PLINK has not answered, an entry only for a link it made and
// could not bind or unlink.
TEST(OrphanLinks, APlumbLeavesNoIntent)
{
    struct row {
        const char *name;
        const char *faults;
        int status;
        const char *links_after;
        const char *journal_after;
    };
    const row rows[] = {
        {"plumbed", "", 0, "1/xnic/0", ""},
        {"plink_refused", R"({"request": "plink", "errno": "EIO"})", 255, "", ""},
        {"setppa_and_unlink_refused",
         R"({"request": "setppa", "errno": "EIO"}, {"request": "punlink", "errno": "EBUSY"})", 255,
         "1/xnic/null", "1"},
    };
    for (const row &row : rows) {
        SCOPED_TRACE(row.name);
        SimRoot r;
        r.write_conf(0, llc2test::conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] = json::parse("[" + std::string(row.faults) + "]");
        r.start_sim(s);
        EXPECT_EQ(r.run_llc2({"-p", "0"}).status, row.status);
        EXPECT_EQ(links_now(r), row.links_after);
        EXPECT_EQ(journal_of(r), row.journal_after);
        EXPECT_EQ(unknown_of(r), 0);
    }
}

struct orphan_row {
    const char *name;
    const char *faults;
    int journaled_for; // the PPA the test's own link is journaled for; -1: not journaled
    // "bound": PPA 0's link 1 is journaled too ("bound unrecorded": and PPA 0
    // has no record); "stale": link 9, which is not linked, is journaled
    const char *journal;
    std::vector<std::string> args;
    int status;
    const char *out;
    const char *err;
    const char *links_after;
    const char *journal_after;
};

// PPA 0 is up on link 1 as configured; a link 2 was left under no PPA.
TEST(OrphanLinks, EachActionTellsOrRemovesWhatIsLeft)
{
    const char *unlinked = "Link 2: unlinked (left by an interrupted run)\n";
    const char *both = "1/xnic/0 2/xnic/null";
    const char *getlink_eio = R"({"request": "getlink", "errno": "EIO"})";
    const orphan_row rows[] = {
        {"status",
         "",
         1,
         "",
         {"--status"},
         3,
         "PPA 0: up\nLink 2: left linked by an interrupted run\n",
         "",
         "1/xnic/0 2/xnic/null",
         "2"},
        {"status_named",
         "",
         1,
         "",
         {"--status", "0"},
         0,
         "PPA 0: up\n",
         "",
         "1/xnic/0 2/xnic/null",
         "2"},
        {"status_bound_is_no_orphan",
         "",
         -1,
         "bound",
         {"--status"},
         0,
         "PPA 0: up\n",
         "",
         "1/xnic/0 2/xnic/null",
         "1"},
        {"status_cannot_tell_wins",
         R"({"request": "getlink", "errno": "EIO"})",
         1,
         "",
         {"--status"},
         4,
         "PPA 0: cannot tell (Input/output error)\n",
         "",
         "1/xnic/0 2/xnic/null",
         "2"},
        // For --json, out is "orphan_links".
        {"json", "", 1, "", {"--json"}, 0, "[2]", "", "1/xnic/0 2/xnic/null", "2"},
        {"json_bound_unrecorded",
         "",
         -1,
         "bound unrecorded",
         {"--json"},
         0,
         "[]",
         "",
         "1/xnic/0 2/xnic/null",
         "1"},
        {"json_cannot_tell",
         R"({"request": "getlink", "errno": "EIO"})",
         1,
         "",
         {"--json"},
         0,
         "null",
         "",
         "1/xnic/0 2/xnic/null",
         "2"},
        // For --metrics, out is llc2_orphan_links: a count, absent where
        // --json has null and where PPAs are named.
        {"metrics", "", 1, "", {"--metrics"}, 0, "1", "", both, "2"},
        {"metrics_bound", "", -1, "bound", {"--metrics"}, 0, "0", "", both, "1"},
        {"metrics_cannot_tell", getlink_eio, 1, "", {"--metrics"}, 0, "absent", "", both, "2"},
        {"metrics_named", "", 1, "", {"--metrics", "0"}, 0, "absent", "", both, "2"},
        {"apply", "", 1, "bound", {"--apply"}, 0, unlinked, "", "1/xnic/0", ""},
        {"apply_named_ppa", "", 7, "", {"--apply", "0"}, 0, unlinked, "", "1/xnic/0", ""},
        // For programs, the line is an item of the document.
        {"apply_json",
         "",
         1,
         "",
         {"--apply", "--json"},
         0,
         R"({"actions":[],"failed":[],"unlinked":[2],"unasked":null})"
         "\n",
         "",
         "1/xnic/0",
         ""},
        {"apply_stale_entry", "", -1, "stale", {"--apply"}, 0, "", "", "1/xnic/0 2/xnic/null", ""},
        {"apply_dry_run_names_and_sends_no_unlink",
         "",
         1,
         "",
         {"--apply", "-n"},
         0,
         "Link 2: would unlink (left by an interrupted run)\n",
         "",
         "1/xnic/0 2/xnic/null",
         "2"},
        {"apply_refused",
         R"({"request": "punlink", "errno": "EBUSY"})",
         1,
         "",
         {"--apply"},
         255,
         "",
         "Error unlinking link 2: Device or resource busy\n",
         "1/xnic/0 2/xnic/null",
         "2"},
        {"apply_getlink_refused",
         R"({"request": "getlink", "errno": "EIO"})",
         1,
         "",
         {"--apply"},
         255,
         "",
         "Cannot tell which links the driver holds: Input/output error\n"
         "PPA 0: cannot tell (Input/output error); left as it is\n",
         "1/xnic/0 2/xnic/null",
         "2"},
        // PPA 5 might hold link 2: nothing is unlinked.
        {"apply_a_ppa_untold",
         R"({"request": "getppa", "ppa": 5, "errno": "EIO"})",
         1,
         "",
         {"--apply"},
         255,
         "",
         "Cannot tell which links the driver holds: Input/output error\n",
         "1/xnic/0 2/xnic/null",
         "2"},
        {"plumb_all_nothing_configured", "", 1, "", {"-P"}, 0, unlinked, "", "1/xnic/0", ""},
        // -U also takes what no journal names, and PPA 0's link.
        {"unplumb_all", "", -1, "stale", {"-U"}, 0, "", "", "", ""},
        {"unplumb_all_journaled", "", 1, "", {"-U"}, 0, unlinked, "", "", ""},
        {"unplumb_all_refused",
         R"({"request": "punlink", "skip": 2, "errno": "EBUSY"})",
         1,
         "",
         {"-U"},
         255,
         unlinked,
         "Error unlinking every link: Device or resource busy\n",
         "",
         ""},
    };
    for (const orphan_row &row : rows) {
        SCOPED_TRACE(row.name);
        SimRoot r;
        r.write_conf(0, llc2test::conf_text("xnic", 0));
        json s = llc2test::default_scenario();
        s["faults"] = json::parse("[" + std::string(row.faults) + "]");
        r.start_sim(s);
        ASSERT_EQ(r.run_llc2({"--apply"}).status, 0);
        ASSERT_EQ(cmdtest::leave_link(r, row.journaled_for), 2);
        if (std::string(row.journal).starts_with("bound"))
            cmdtest::under_root(r, [] { return journal_link(1, 0); });
        if (std::string(row.journal) == "bound unrecorded")
            cmdtest::under_root(r, [] { return forget_record(0); });
        if (std::string(row.journal) == "stale")
            cmdtest::under_root(r, [] { return journal_link(9, 3); });
        if (row.args[0] == "-P") {
            ASSERT_EQ(unlink(r.path("etc/llc2/default/llc2.0").c_str()), 0);
        }

        expect_run(r, row.args, "orphan_links", row.status, row.out, row.err, row.links_after);
        EXPECT_EQ(journal_of(r), row.journal_after);
    }
}

// A journal entry names a PPA above the table's 63 that the driver holds on
// the very link: that PPA is asked too, so its link is no orphan.
TEST(OrphanLinks, AJournaledPpaAbove63IsAskedBeforeItsLinkGoes)
{
    for (const char *action : {"--apply", "-P"}) {
        SCOPED_TRACE(action);
        SimRoot r;
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa":100,"state":4,"id":40,"link_id":60}])");
        r.start_sim(s);
        cmdtest::under_root(r, [] { return journal_link(60, 100); });
        const llc2test::Run run = r.run_llc2({action});
        EXPECT_EQ(std::tuple(run.status, run.out, run.err), std::tuple(0, "", ""));
        const std::vector<std::string> sent = cmdtest::trace(r);
        EXPECT_TRUE(std::ranges::any_of(sent, [](const std::string &line) {
            return line.ends_with(" GETPPA 100 ok");
        })) << "PPA 100 not asked";
        EXPECT_EQ(links_now(r), "60/xnic/100");
        EXPECT_EQ(journal_of(r), "") << "a bound link's entry stays";
    }
}

// The journal's names and the records' are told apart, and neither listing
// takes a temporary file, the lock file or a number spelt otherwise.
TEST(OrphanLinks, JournalAndRecordsKeepToTheirNames)
{
    SimRoot r;
    const std::string dir = cmdtest::under_root(r, [] { return applied_dir(); });
    for (const char *name : {"ppa.3.link", "ppa.4.params", "link.5", "link.05", "link.+6", "link.x",
                             "link.", "link.-1", "link.2147483648", ".link.7.AbCdEf", ".lock",
                             "ppa.link.8", "link.9.tmp", "intent.2.41-1-2", "intent.3.41-1-2",
                             "intent.4", "intent.4.", "intent.x.41-1-2", ".intent.5.41-1-2.AbCdEf"})
        r.write_file(dir.substr(r.root().size() + 1) + "/" + name, "");
    EXPECT_EQ(journal_of(r), "5");
    EXPECT_EQ(cmdtest::under_root(r, [] { return recorded_ppas(); }), (std::vector<int>{3, 4}));
    EXPECT_EQ(unknown_of(r), 2);
    // An entry names its PPA; one whose text is not ours names none.
    cmdtest::under_root(r, [] { return journal_link(5, 12); });
    const std::vector<journaled_link> e = cmdtest::under_root(r, [] { return journaled_links(); });
    ASSERT_EQ(e.size(), 1U);
    EXPECT_EQ(e[0].ppa, 12);
}

// An entry names its PPA only when its text is exactly what llc2 writes.
TEST(OrphanLinks, AnEntryNamesItsPpaOnlyAsWritten)
{
    const std::string head =
        "# llc2's journal of a link it made and had not yet bound to its PPA\n";
    const struct {
        std::string text;
        int ppa;
    } cases[] = {
        {head + "ppa=12\n", 12},
        {head + "ppa=0\n", 0},
        {head + "ppa=012\n", -1},
        {head + "ppa=-5\n", -1},
        {head + "ppa=12", -1},
        {head + "ppa=12\nppa=13\n", -1},
        {head + "pp=12\n", -1},
        {"# llc2's intent to link a device beneath the driver for a PPA\nppa=12\n", -1},
    };
    SimRoot r;
    const std::string dir = cmdtest::under_root(r, [] { return applied_dir(); });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        r.write_file(dir.substr(r.root().size() + 1) + "/link.5", c.text);
        const std::vector<journaled_link> e =
            cmdtest::under_root(r, [] { return journaled_links(); });
        ASSERT_EQ(e.size(), 1U);
        EXPECT_EQ(e[0].ppa, c.ppa);
    }
}

} // namespace
