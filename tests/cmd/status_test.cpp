// SPDX-License-Identifier: Apache-2.0
// llc2 --json and llc2 --status against llc2sim: one table of the states a
// PPA can be in, read as a JSON document by a real parser and as status
// lines with their exit statuses; then what ends either before it starts.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

const char *const INVALID = "devicename=xnic\ndeviceinstance=x2\n";

// One PPA: what the driver holds (a scenario entry), its file, a fault, and
// what --json and --status say of it.
struct State {
    int ppa;
    const char *held; // the scenario's "ppas" entry, or null
    const char *file; // the configuration file's text, or null
    const char *fault;
    const char *json; // the PPA's object in the document
    const char *line; // --status, after "PPA <n>: "
    // What llc2 recorded for it, for the file "on" on link 50 + ppa with the
    // driver's id ("both", "link", "params", "unconfirmed", "wrong link"),
    // and --json's "pending" then.
    const char *record = "";
    const char *pending = "null";
};

const char *const UNKNOWN_PARAMS =
    R"("timeinterval","acktimer","rsptimer","polltimer","rejecttimer","rembusytimer","inacttimer","maxretry","xmitwindowsz","rcvwindowsz")";

const std::string on0 = conf_text("xnic", 0);

const State states[] = {
    // clang-format off
    {0, R"({"ppa":0,"state":4,"id":16,"mac":"02:00:00:00:00:10","link_id":50})", "on", nullptr,
     R"({"ppa":0,"state":"up","id":16,"mac":"020000000010","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":0,"error":null,"as_configured":true})",
     "up", "both", "[]"},
    {1, R"({"ppa":1,"state":0,"id":17})", "on", nullptr,
     R"({"ppa":1,"state":"down","id":17,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":1,"error":null,"as_configured":false})",
     "down (configured, llc2_on=1)", "", "all"},
    {2, R"({"ppa":2,"state":8,"id":18,"dlpi":{"mac_type":8,"max_sdu":4352,"min_sdu":0,"service_mode":2}})", "on", nullptr,
     R"({"ppa":2,"state":"off","id":18,"mac":"020000a1b2c3","type":"fddi","max_sdu":4352,"min_sdu":0,"mode":2,"configured":true,"llc2_on":1,"device":"xnic","instance":2,"error":null,"as_configured":false})",
     "off (configured, llc2_on=1)", "", "all"},
    {3, R"({"ppa":3,"state":6,"id":19,"dlpi":{"mac_type":1}})", "on", nullptr,
     R"({"ppa":3,"state":"bad","id":19,"mac":"020000a1b2c3","type":"unknown","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":3,"error":null,"as_configured":false})",
     "bad (configured, llc2_on=1)", "", "all"},
    {4, nullptr, "on", nullptr,
     R"({"ppa":4,"state":null,"id":null,"mac":null,"type":null,"max_sdu":null,"min_sdu":null,"mode":null,"configured":true,"llc2_on":1,"device":"xnic","instance":4,"error":null,"as_configured":false})",
     "not plumbed (configured, llc2_on=1)"},
    {5, R"({"ppa":5,"state":4,"id":21})", nullptr, nullptr,
     R"({"ppa":5,"state":"up","id":21,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":false,"llc2_on":null,"device":null,"instance":null,"error":null,"as_configured":false})",
     "up (plumbed but not configured)"},
    {6, R"({"ppa":6,"state":4,"id":22})", "off", nullptr,
     R"({"ppa":6,"state":"up","id":22,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":0,"device":"xnic","instance":6,"error":null,"as_configured":false})",
     "up (plumbed but switched off, llc2_on=0)", "", "all"},
    {7, nullptr, "off", nullptr,
     R"({"ppa":7,"state":null,"id":null,"mac":null,"type":null,"max_sdu":null,"min_sdu":null,"mode":null,"configured":true,"llc2_on":0,"device":"xnic","instance":7,"error":null,"as_configured":true})",
     "switched off"},
    {8, R"({"ppa":8,"state":4,"id":24})", "invalid", nullptr,
     R"({"ppa":8,"state":"up","id":24,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":null,"device":null,"instance":null,"error":"llc2.8:2: invalid line: deviceinstance=x2","as_configured":false})",
     "up (configuration unusable: llc2.8:2: invalid line: deviceinstance=x2)"},
    {9, R"({"ppa":9,"state":4,"id":25,"link_id":59})", "on", R"({"request":"attach","ppa":9,"dlpi":"error_ack"})",
     R"({"ppa":9,"state":"up","id":25,"mac":"020000a1b2c3","type":null,"max_sdu":null,"min_sdu":null,"mode":null,"configured":true,"llc2_on":1,"device":"xnic","instance":9,"error":null,"as_configured":true})",
     "up", "both", "[]"},
    {10, nullptr, "fifo", nullptr,
     R"({"ppa":10,"state":null,"id":null,"mac":null,"type":null,"max_sdu":null,"min_sdu":null,"mode":null,"configured":true,"llc2_on":null,"device":null,"instance":null,"error":"Cannot open ROOT/etc/llc2/default/llc2.10: not a regular file","as_configured":false})",
     "not plumbed (configuration unusable: Cannot open ROOT/etc/llc2/default/llc2.10: not a regular file)"},
    // Up, and what no record proves is not taken for the file's values.
    {11, R"({"ppa":11,"state":4,"id":27})", "on", nullptr,
     R"({"ppa":11,"state":"up","id":27,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":11,"error":null,"as_configured":false})",
     "up, not recorded", "", "all"},
    {12, R"({"ppa":12,"state":4,"id":28,"link_id":62})", "on", nullptr,
     R"({"ppa":12,"state":"up","id":28,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":12,"error":null,"as_configured":false})",
     "up, not recorded", "unconfirmed", "all"},
    {13, R"({"ppa":13,"state":4,"id":29,"link_id":63})", "on", nullptr,
     R"({"ppa":13,"state":"up","id":29,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":13,"error":null,"as_configured":false})",
     "up, link not known", "params", R"(["devicename","deviceinstance"])"},
    {14, R"({"ppa":14,"state":4,"id":30,"link_id":4})", "on", nullptr,
     R"({"ppa":14,"state":"up","id":30,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":14,"error":null,"as_configured":false})",
     "up, link not known", "wrong link", R"(["devicename","deviceinstance"])"},
    {15, R"({"ppa":15,"state":4,"id":31,"link_id":65})", "on", nullptr,
     R"({"ppa":15,"state":"up","id":31,"mac":"020000a1b2c3","type":"ethernet","max_sdu":1500,"min_sdu":1,"mode":1,"configured":true,"llc2_on":1,"device":"xnic","instance":15,"error":null,"as_configured":false})",
     "up, not recorded", "link", "params"},
    {70, nullptr, "on", nullptr,
     R"({"ppa":70,"state":null,"id":null,"mac":null,"type":null,"max_sdu":null,"min_sdu":null,"mode":null,"configured":true,"llc2_on":1,"device":"xnic","instance":70,"error":null,"as_configured":false})",
     "not plumbed (configured, llc2_on=1)"},
    // clang-format on
};

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
    return text;
}

// What reached llc2sim, without times and stream numbers: "ioctl <cmd>"
// with the payload, and the DLPI requests.
std::vector<std::string> steps(const std::vector<json> &log)
{
    std::vector<std::string> out;
    for (const json &rec : log) {
        const std::string kind = rec.value("kind", "");
        if (kind == "ioctl")
            out.push_back("ioctl " + std::to_string(rec.value("ic_cmd", 0)));
        else if (kind == "putmsg" || kind == "flush")
            out.push_back(kind + " " + rec.value("request", ""));
        else if (kind == "open")
            out.push_back("open " + rec.value("device", ""));
    }
    return out;
}

// A root with llc2sim holding the PPAs of these rows, and their files.
void set_up(SimRoot &r, const std::vector<const State *> &rows)
{
    json scenario = llc2test::default_scenario();
    scenario["ppas"] = json::array();
    scenario["faults"] = json::array();
    for (const State *s : rows) {
        if (s->held != nullptr)
            scenario["ppas"].push_back(json::parse(s->held));
        if (s->fault != nullptr)
            scenario["faults"].push_back(json::parse(s->fault));
        const std::string file = s->file != nullptr ? s->file : "";
        const std::string path = r.path("etc/llc2/default/llc2." + std::to_string(s->ppa));
        if (file == "on" || file == "off")
            r.write_conf(s->ppa, conf_text("xnic", s->ppa, file == "on" ? 1 : 0));
        else if (file == "invalid")
            r.write_conf(s->ppa, INVALID);
        else if (file == "fifo" && mkfifo(path.c_str(), 0644) != 0)
            ADD_FAILURE() << "mkfifo " << path;
    }
    r.start_sim(scenario);
    for (const State *s : rows) {
        if (*s->record == '\0')
            continue;
        const json held = json::parse(s->held);
        ppa_info now{};
        now.id = held["id"];
        const std::array<std::uint8_t, 6> mac{2, 0, 0, 0xa1, 0xb2, 0xc3};
        std::copy(mac.begin(), mac.end(), now.mac);
        if (held.contains("mac")) // the one other address the table uses
            std::copy_n(std::array<std::uint8_t, 6>{2, 0, 0, 0, 0, 0x10}.begin(), 6, now.mac);
        const bool wrong = std::string(s->record) == "wrong link";
        cmdtest::seed_for_file(r, s->ppa, conf_text("xnic", s->ppa), 50 + s->ppa, now,
                               wrong ? "both" : s->record);
    }
}

// The "pending" a row expects: "all" for nothing known.
json pending_of(const State &s)
{
    const std::string p = s.pending;
    if (p == "all")
        return json::parse(std::string(R"(["devicename","deviceinstance",)") + UNKNOWN_PARAMS +
                           "]");
    if (p == "params")
        return json::parse(std::string("[") + UNKNOWN_PARAMS + "]");
    return json::parse(p);
}

std::vector<const State *> all_states()
{
    std::vector<const State *> rows;
    for (const State &s : states)
        rows.push_back(&s);
    return rows;
}

TEST(StatusStates, JsonDocument)
{
    SimRoot r;
    set_up(r, all_states());
    const llc2test::Run run = r.run_llc2({"--json"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.back(), '\n');
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc.size(), 4U);
    EXPECT_EQ(doc.at("unasked"), nullptr) << "every number was asked";
    EXPECT_EQ(doc.at("orphan_links"), json::array()) << "no link left behind";
    EXPECT_EQ(doc.at("unknown_links"), 0) << "no link that may be held";
    const json &ppas = doc.at("ppas");
    ASSERT_EQ(ppas.size(), std::size(states));
    for (std::size_t i = 0; i < ppas.size(); ++i) {
        SCOPED_TRACE(states[i].ppa);
        json got = ppas[i];
        // Only a PPA the driver holds was given anything; what the record
        // proves is shown, the rest is null.
        const bool held = states[i].held != nullptr;
        EXPECT_EQ(got["applied"].is_null(), !held);
        const std::string record = states[i].record;
        const bool link = record == "both" || record == "link";
        if (held) {
            EXPECT_EQ(got["applied"]["devicename"], link ? json("xnic") : json(nullptr));
        }
        EXPECT_EQ(got["pending"], pending_of(states[i]));
        got.erase("applied");
        got.erase("pending");
        EXPECT_EQ(got, json::parse(replaced(states[i].json, "ROOT", r.root())));
    }
    // The keys of old stay in their order; the new ones come last.
    const std::size_t at = run.out.find("\"as_configured\"");
    EXPECT_LT(at, run.out.find("\"applied\""));
    EXPECT_LT(run.out.find("\"applied\""), run.out.find("\"pending\""));
    // The requests of the table, in its order: the same scan, the same DLPI
    // exchanges, nothing for the PPAs the driver does not hold; then PPA 70,
    // beyond the scan, asked on its own. Besides, one GETLINK for each held
    // PPA whose record names a link.
    std::vector<std::string> of_json = steps(r.log());
    const std::string getlink = "ioctl " + std::to_string(LLC2_IOC_GETLINK);
    EXPECT_EQ(std::count(of_json.begin(), of_json.end(), getlink), 4);
    const std::size_t json_steps = of_json.size();
    std::erase(of_json, getlink);
    ASSERT_EQ(r.run_llc2({"-q"}).status, 0);
    const std::vector<std::string> both = steps(r.log());
    EXPECT_EQ(of_json.back(), "ioctl 10");
    of_json.pop_back();
    EXPECT_EQ(std::vector<std::string>(both.begin() + static_cast<long>(json_steps), both.end()),
              of_json);
    EXPECT_EQ(std::count(of_json.begin(), of_json.end(), "ioctl 10"), 64);
}

TEST(StatusStates, StatusLinesAndExit)
{
    SimRoot r;
    set_up(r, all_states());
    std::string lines;
    for (const State &s : states) {
        SCOPED_TRACE(s.ppa);
        const std::string line =
            "PPA " + std::to_string(s.ppa) + ": " + replaced(s.line, "ROOT", r.root()) + "\n";
        lines += line;
        const llc2test::Run one = r.run_llc2({"--status", std::to_string(s.ppa)});
        EXPECT_EQ(one.out, line);
        EXPECT_EQ(one.err, "");
        const bool as_configured = json::parse(replaced(s.json, "ROOT", r.root()))["as_configured"];
        EXPECT_EQ(one.status, as_configured ? 0 : 3);
    }
    const llc2test::Run all = r.run_llc2({"--status"});
    EXPECT_EQ(all.out, lines);
    EXPECT_EQ(all.status, 3);
    // Named: in order of number, once each; neither configured nor held is
    // not as configured.
    const llc2test::Run named = r.run_llc2({"--status", "9", "0", "9", "-d"});
    EXPECT_EQ(named.status, 2) << "every argument after --status is a PPA";
    const llc2test::Run some = r.run_llc2({"-d", "--status", "9", "0", "9"});
    EXPECT_EQ(some.out, "PPA 0: up\nPPA 9: up\n");
    EXPECT_EQ(some.status, 0);
    EXPECT_EQ(some.err, "Checking PPA 0\nChecking PPA 9\n") << "only the PPAs named are asked";
    const llc2test::Run unknown = r.run_llc2({"--status", "0", "63"});
    EXPECT_EQ(unknown.out, "PPA 0: up\nPPA 63: not configured\n");
    EXPECT_EQ(unknown.status, 3);
}

TEST(StatusStates, EveryStateAloneDecidesTheExit)
{
    // Without operands: only the PPAs held or configured, so one that is
    // as configured is 0 on its own and one that is not is 3.
    for (const State &s : states) {
        SCOPED_TRACE(s.ppa);
        SimRoot r;
        set_up(r, {&s});
        const llc2test::Run run = r.run_llc2({"--status"});
        EXPECT_EQ(run.out, "PPA " + std::to_string(s.ppa) + ": " +
                               replaced(s.line, "ROOT", r.root()) + "\n");
        const bool as_configured = json::parse(replaced(s.json, "ROOT", r.root()))["as_configured"];
        EXPECT_EQ(run.status, as_configured ? 0 : 3);
    }
}

TEST(StatusStates, OddDeviceNamesStayValidJson)
{
    const std::string names[] = {"a\"b\\c", "\x1b[2J", "n\xc3\xa4me", "bad\xff\xfe", "x\x7fy"};
    SimRoot r;
    for (int ppa = 0; ppa < static_cast<int>(std::size(names)); ++ppa)
        r.write_conf(ppa, conf_text(names[ppa], ppa));
    r.start_sim();
    const llc2test::Run run = r.run_llc2({"--json"});
    ASSERT_EQ(run.status, 0);
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc["ppas"].size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string got = doc["ppas"][i]["device"];
        // Malformed UTF-8 comes back as U+FFFD, byte by byte.
        EXPECT_EQ(got, replaced(names[i], "\xff\xfe", "\xef\xbf\xbd\xef\xbf\xbd"));
    }
}

TEST(StatusStates, WhenNothingCanBeTold)
{
    const struct {
        const char *name;
        bool driver;
        const char *dir; // "missing", "unreadable", or "" as it is
        int json_status;
        int status_status;
        const char *err;
    } cases[] = {
        {"no_driver", false, "", 255, 4, "Cannot open LLC2 device: No such file or directory\n"},
        {"no_directory", true, "missing", 0, 0, ""},
        {"unreadable_directory", true, "unreadable", 255, 4,
         "Cannot open default directory: Not a directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        const std::string dir = r.path("etc/llc2/default");
        if (std::string(c.dir) == "missing") {
            ASSERT_EQ(rmdir(dir.c_str()), 0);
        }
        // A file where the directory should be: there, and not readable as
        // one, whoever runs the test.
        if (std::string(c.dir) == "unreadable") {
            ASSERT_EQ(rmdir(dir.c_str()), 0);
            r.write_file("etc/llc2/default", "");
        }
        if (c.driver)
            r.start_sim();
        const llc2test::Run j = r.run_llc2({"--json"});
        const llc2test::Run s = r.run_llc2({"--status"});
        EXPECT_EQ(j.status, c.json_status);
        EXPECT_EQ(j.out,
                  c.json_status == 0
                      ? "{\"ppas\":[],\"unasked\":null,\"orphan_links\":[],\"unknown_links\":0}\n"
                      : "");
        EXPECT_EQ(j.err, c.err);
        EXPECT_EQ(s.status, c.status_status);
        EXPECT_EQ(s.out, "");
        EXPECT_EQ(s.err, c.err);
    }
}

TEST(StatusStates, OneActionARun)
{
    SimRoot r;
    r.start_sim();
    const std::vector<std::string> bad[] = {
        {"--json", "-q"},        {"-q", "--json"},    {"--apply", "--status"}, {"--json", "3"},
        {"--status", "3x"},      {"--status", "-q"},  {"-P", "--apply"},       {"--metrics", "x"},
        {"--metrics", "--json"}, {"-q", "--metrics"},
    };
    for (const auto &args : bad) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const llc2test::Run run = r.run_llc2(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(cmdtest::usage_line().substr(0, 7)), std::string::npos);
    }
    EXPECT_TRUE(r.log("ioctl").empty());
}

} // namespace
