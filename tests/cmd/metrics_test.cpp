// SPDX-License-Identifier: Apache-2.0
// llc2 --metrics against llc2sim: the label values, every state a PPA can be
// in as its series, and the runs that cannot tell (no driver, a hung one, an
// unreadable directory, standard output that fails). Real Prometheus
// parsers read the same output in tests/prometheus.
#include "../llc2conf/run.h"
#include "cmd_test_util.h"
#include "metrics.h"

#include <gtest/gtest.h>

#include <map>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

TEST(Metrics, LabelValues)
{
    const std::string a127(127, 'a');
    const struct {
        std::string in;
        std::string written; // between the quotes
    } cases[] = {
        {"xnic0", "xnic0"},
        {"", ""},
        {"a\"b\\c\nd", "a\\\"b\\\\c\\nd"},
        {"\t\r\x1b", "\t\r\x1b"}, // the format has no escape for these
        {"n\xc3\xa4me", "n\xc3\xa4me"},
        {"bad\xff\xc3(", "bad\xef\xbf\xbd\xef\xbf\xbd("},
        {a127 + "a", a127 + "a"},
        {a127 + "ab", a127 + "a"},
        {a127 + "\xc3\xa4", a127},     // no half character
        {a127 + "\\x", a127 + "\\\\"}, // cut before escaping
        {std::string(126, 'a') + "\xff", std::string(126, 'a')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        std::string out = "x";
        label_value(out, c.in);
        EXPECT_EQ(out, "x\"" + c.written + "\"");
    }
}

const char *const PPA_STATES[] = {"up", "down", "off", "bad", "not plumbed", "unknown"};

// The series of an exposition, "name{labels}" to value; each once. The
// format's own rules are the real parsers' to check (tests/prometheus).
std::map<std::string, std::string> samples(const std::string &text)
{
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.rfind(' ');
        if (!line.starts_with("#")) {
            EXPECT_TRUE(out.emplace(line.substr(0, at), line.substr(at + 1)).second) << line;
        }
    }
    return out;
}

// The PPAs told, in order, each with the state whose series is 1:
// "0:up 5:unknown".
std::string states_of(const std::map<std::string, std::string> &got)
{
    std::string out;
    for (const auto &[key, value] : got)
        if (key.starts_with("llc2_ppa_state{") && value == "1") {
            const std::size_t ppa = key.find('"') + 1;
            const std::size_t state = key.find("state=\"") + 7;
            out += (out.empty() ? "" : " ") + key.substr(ppa, key.find('"', ppa) - ppa) + ":" +
                   key.substr(state, key.rfind('"') - state);
        }
    return out;
}

// One PPA: what the driver holds, its file and record, and its series.
// "-" is no series.
struct Row {
    int ppa;
    const char *held; // the scenario's entry, or null
    const char *file; // "on", "off", "invalid", or null
    const char *record;
    const char *state;
    const char *device;
    const char *up;
    const char *as_configured;
    const char *pending;
};

const Row rows[] = {
    // clang-format off
    {0, R"({"ppa":0,"state":4,"id":16,"link_id":50})", "on", "both", "up", "xnic0", "1", "1", "0"},
    {1, R"({"ppa":1,"state":0,"id":17})", "on", "", "down", "xnic1", "0", "0", "12"},
    {2, R"({"ppa":2,"state":8,"id":18})", "on", "", "off", "xnic2", "0", "0", "12"},
    {3, R"({"ppa":3,"state":6,"id":19})", "on", "", "bad", "xnic3", "0", "0", "12"},
    {4, nullptr, "on", "", "not plumbed", "xnic4", "0", "0", "-"},
    {5, R"({"ppa":5,"state":4,"id":21})", nullptr, "", "up", "", "1", "0", "-"},
    {6, nullptr, "off", "", "not plumbed", "xnic6", "0", "1", "-"},
    {7, R"({"ppa":7,"state":4,"id":23})", "invalid", "", "up", "", "1", "0", "-"},
    {8, nullptr, "on", "", "unknown", "xnic8", "-", "-", "-"}, // refused: EIO
    // Parameters proven, link not: applied, and still not as configured.
    {9, R"({"ppa":9,"state":4,"id":25,"link_id":59})", "on", "params", "up", "xnic9", "1", "0", "2"},
    // No file: the device is the proven link's.
    {10, R"({"ppa":10,"state":4,"id":26,"link_id":60})", nullptr, "link", "up", "xnic10", "1", "0", "-"},
    // clang-format on
};

void set_up(SimRoot &r)
{
    json s = llc2test::default_scenario();
    s["faults"] = json::parse(R"([{"request":"getppa","ppa":8,"errno":"EIO"}])");
    for (const Row &row : rows) {
        const std::string file = row.file != nullptr ? row.file : "";
        if (row.held != nullptr)
            s["ppas"].push_back(json::parse(row.held));
        if (file == "on" || file == "off")
            r.write_conf(row.ppa, conf_text("xnic", row.ppa, file == "on" ? 1 : 0));
        else if (file == "invalid")
            r.write_conf(row.ppa, "devicename=xnic\ndeviceinstance=x2\n");
    }
    r.start_sim(s);
    for (const Row &row : rows)
        if (*row.record != '\0') {
            const json held = json::parse(row.held);
            cmdtest::seed_for_file(r, row.ppa, conf_text("xnic", row.ppa), held["link_id"],
                                   ppa_info{0, 4, held["id"], {2, 0, 0, 0xa1, 0xb2, 0xc3}},
                                   row.record);
        }
}

// ',name="value"'
std::string label(const std::string &name, const std::string &value)
{
    return "," + name + "=\"" + value + "\"";
}

// The series name{ppa="N"<more>} is there with value, or absent for "-";
// counts those there.
void expect_series(const std::map<std::string, std::string> &got, std::string name, int ppa,
                   const std::string &more, const std::string &value, std::size_t &there)
{
    name.append("{ppa=\"").append(std::to_string(ppa)).append("\"").append(more).append("}");
    const auto at = got.find(name);
    if (value == "-") {
        EXPECT_EQ(at, got.end()) << name;
        return;
    }
    ++there;
    EXPECT_EQ(at == got.end() ? "absent" : at->second, value) << name;
}

TEST(Metrics, EveryStateAsItsSeries)
{
    SimRoot r;
    set_up(r);
    const llc2test::Run run = r.run_llc2({"--metrics"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::map<std::string, std::string> got = samples(run.out);
    // The run's own: no journal, so no link left.
    const std::map<std::string, std::string> run_wide = {
        {"llc2_orphan_links", "0"},
        {"llc2_unknown_links", "0"},
        {"llc2_build_info{version=\"" LLC2_VERSION "\"}", "1"},
        {"llc2_scan_success", "1"},
    };
    for (const auto &[name, value] : run_wide)
        EXPECT_EQ(got.contains(name) ? got.at(name) : "absent", value) << name;
    std::size_t there = run_wide.size() + 1; // and the duration
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ppa);
        expect_series(got, "llc2_ppa_up", row.ppa, label("device", row.device), row.up, there);
        // Every device of the table is xnic with the PPA's number.
        expect_series(got, "llc2_ppa_info", row.ppa,
                      label("device", "xnic") + label("device_instance", std::to_string(row.ppa)),
                      *row.device != '\0' ? "1" : "-", there);
        for (const std::string state : PPA_STATES)
            expect_series(got, "llc2_ppa_state", row.ppa, label("state", state),
                          state == row.state ? "1" : "0", there);
        expect_series(got, "llc2_ppa_as_configured", row.ppa, "", row.as_configured, there);
        expect_series(got, "llc2_ppa_pending_changes", row.ppa, "", row.pending, there);
        const auto params = cmdtest::applied_of(r, row.ppa).params;
        const bool applied =
            std::string(row.record) == "both" || std::string(row.record) == "params";
        expect_series(got, "llc2_ppa_applied_timestamp_seconds", row.ppa, "",
                      applied ? std::to_string(params.value().at) : "-", there);
    }
    EXPECT_EQ(got.size(), there) << run.out;
    EXPECT_GE(std::stod(got.at("llc2_scan_duration_seconds")), 0.0);

    // The same scan as --status: the same requests, in the same order, and
    // the PPAs named alone, each once, whatever their number.
    const std::vector<json> before = r.log();
    EXPECT_EQ(r.run_llc2({"--status"}).status, 4); // PPA 8
    const std::vector<json> both = r.log();
    const std::vector<json> of_status(both.begin() + static_cast<long>(before.size()), both.end());
    EXPECT_EQ(cmdtest::trace(before), cmdtest::trace(of_status));
    const llc2test::Run named = r.run_llc2({"--metrics", "9", "0", "300", "9", "63"});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(states_of(samples(named.out)), "0:up 300:unknown 63:not plumbed 9:up");
}

TEST(Metrics, RunsThatCannotTell)
{
    const struct {
        const char *name;
        const char *setup; // "", "no driver", "unreadable", "hung"
        const char *redirect;
        int status;
        const char *err;
        const char *success; // llc2_scan_success, or "" for no output
        const char *states;
    } cases[] = {
        // clang-format off
        {"no_driver", "no driver", "", 0, "Cannot open LLC2 device: No such file or directory\n", "0", ""},
        {"unreadable_directory", "unreadable", "", 0, "Cannot open default directory: Not a directory\n", "0", ""},
        // Told before it stopped answering stands; nothing after it does.
        {"hung", "hung", "", 0, "", "0", "0:up 5:unknown"},
        {"stdout_full", "", ">/dev/full", 255, "llc2: write error: No space left on device\n", "", ""},
        {"stdout_closed", "", ">&-", 255, "llc2: write error: Bad file descriptor\n", "", ""},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        const std::string setup = c.setup;
        r.write_conf(0, conf_text("xnic", 0));
        r.write_conf(5, conf_text("xnic", 5));
        if (setup == "unreadable") {
            std::filesystem::remove_all(r.path("etc/llc2/default"));
            r.write_file("etc/llc2/default", "");
        }
        json s = llc2test::default_scenario();
        s["ppas"] = json::parse(R"([{"ppa":0,"state":4,"id":1,"link_id":1}])");
        if (setup == "hung")
            s["faults"] = json::parse(R"([{"request":"getppa","ppa":2,"noreply":true}])");
        if (setup != "no driver")
            r.start_sim(s);
        const llc2test::Run run =
            conftool::shell(r, c.redirect, {"llc2", "--metrics"},
                            "LLC2_EMU_WAIT_MS=" + std::to_string(500 * llc2test::time_factor()) +
                                "; export " + "LLC2_EMU_WAIT_MS; ");
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        if (*c.success == '\0') {
            EXPECT_EQ(run.out, "");
            continue;
        }
        const std::map<std::string, std::string> got = samples(run.out);
        EXPECT_EQ(got.at("llc2_scan_success"), c.success);
        EXPECT_EQ(states_of(got), c.states);
    }
}

} // namespace
