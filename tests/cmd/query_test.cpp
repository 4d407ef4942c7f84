// The status table against llc2sim: the rows as printed, the scan over PPA
// numbers, and for each way a DLPI step can fail the row, the traffic on
// the control stream (flushes, whether a detach went) and what -d says.
#include "cmd_test_util.h"

#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

const std::string header = "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n";
const std::string no_info = "      ??     ??     ??   ?? ";

json scenario(json ppas, json faults = json::array())
{
    json s = llc2test::default_scenario();
    s["ppas"] = std::move(ppas);
    s["faults"] = std::move(faults);
    return s;
}

// What -d writes while scanning PPAs 0 to last, with extra after the line
// of PPA at.
std::string checking(int last, int at = -1, const std::string &extra = "")
{
    std::string s;
    for (int ppa = 0; ppa <= last; ++ppa) {
        s += "Checking PPA " + std::to_string(ppa) + "\n";
        if (ppa == at)
            s += extra;
    }
    return s;
}

// The DLPI traffic of the log in order: the request of every putmsg
// ("attach", "info", "detach") and every "flush".
std::string dlpi_steps(const SimRoot &r)
{
    std::string s;
    for (const json &rec : r.log()) {
        const std::string kind = rec.value("kind", "");
        const std::string step = kind == "putmsg"  ? rec.value("request", "?")
                                 : kind == "flush" ? "flush"
                                                   : "";
        if (!step.empty())
            s += (s.empty() ? "" : " ") + step;
    }
    return s;
}

TEST(StatusTable, TheWorkedExample)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    r.write_conf(2, conf_text("xnic", 1));
    const json dlpi = {{"max_sdu", 1497}, {"min_sdu", 1}, {"service_mode", 1}};
    json ppas = json::array({
        {{"ppa", 0}, {"state", 4}, {"id", 3}, {"mac", "02:00:00:a1:b2:c3"}, {"dlpi", dlpi}},
        {{"ppa", 1}, {"state", 8}, {"id", 4}, {"mac", "02:00:00:a1:b2:c4"}},
        {{"ppa", 2}, {"state", 0}, {"id", 5}, {"mac", "02:00:00:a1:b2:c5"}, {"dlpi", dlpi}},
    });
    ppas[0]["dlpi"]["mac_type"] = 4;
    ppas[2]["dlpi"]["mac_type"] = 0;
    r.start_sim(scenario(ppas, {{{"request", "attach"}, {"ppa", 1}, {"dlpi", "error_ack"}}}));

    for (const std::vector<std::string> &args : {std::vector<std::string>{"-q"}, {}}) {
        SCOPED_TRACE(args.empty() ? "no options" : args[0]);
        const std::size_t seen = r.log().size();
        const llc2test::Run run = r.run_llc2(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out,
                  header + "  0    up  0003 020000a1b2c3 ethernet   1497      1    1       xnic0\n"
                           "  1   off  0004 020000a1b2c4       ??     ??     ??   ??        ??\n"
                           "  2  down  0005 020000a1b2c5 csma/cd   1497      1    1       xnic1\n");
        EXPECT_EQ(run.err, "Cannot open " + r.path("etc/llc2/default/llc2.1") +
                               ": No such file or directory\n");

        // PPAs 0 to 63 asked for in turn, each with a record holding only
        // its number, all on one control stream.
        const std::vector<json> log = r.log();
        std::vector<json> getppa;
        int opens = 0;
        for (std::size_t i = seen; i < log.size(); ++i) {
            opens += log[i].value("kind", "") == "open" ? 1 : 0;
            if (log[i].value("kind", "") == "ioctl")
                getppa.push_back(log[i]);
        }
        EXPECT_EQ(opens, 1);
        ASSERT_EQ(getppa.size(), 64U);
        for (std::size_t ppa = 0; ppa < getppa.size(); ++ppa) {
            EXPECT_EQ(getppa[ppa].value("ic_cmd", 0), 10);
            EXPECT_EQ(getppa[ppa].value("ic_timout", 0), 10);
            std::vector<unsigned char> want(10, 0);
            want[0] = static_cast<unsigned char>(ppa);
            EXPECT_EQ(cmdtest::payload(getppa[ppa]), want);
            EXPECT_EQ(getppa[ppa].value("stream", -1), getppa[0].value("stream", -2));
        }
    }
}

TEST(StatusTable, HowFieldsPrint)
{
    SimRoot r;
    r.write_conf(3, conf_text("averylongnicname", 12));
    r.write_conf(5, "devicename=xnic\n"); // incomplete
    r.write_conf(63, conf_text("xnic", 1));
    auto rec = [](int ppa, int state, json dlpi) {
        return json{{"ppa", ppa},
                    {"state", state},
                    {"id", ppa == 0 ? 0 : 0xbeef},
                    {"mac", ppa == 0 ? "00:00:00:00:00:00" : "0a:0b:0c:d0:e0:ff"},
                    {"dlpi", std::move(dlpi)}};
    };
    r.start_sim(scenario({
        rec(0, 0x06, {{"mac_type", 1}, {"service_mode", 3}}),
        rec(1, 0x0c, {{"mac_type", 2}, {"service_mode", 0x1c}, {"max_sdu", 4294967295U}}),
        rec(2, 0x01, {{"mac_type", 8}, {"min_sdu", 0}, {"max_sdu", 0}}),
        rec(3, 0x08, {{"mac_type", 9}}),
        rec(5, 0xf1, json::object()),
        rec(63, 0x04, json::object()),
    }));
    const llc2test::Run run = r.run_llc2({"-q"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              header +
                  "  0   bad  0000 000000000000 unknown   1500      1    3        ??\n"
                  "  1    up  beef 0a0b0cd0e0ff tkn-ring 4294967295      1   1c        ??\n"
                  "  2  down  beef 0a0b0cd0e0ff    fddi      0      0    1        ??\n"
                  "  3   off  beef 0a0b0cd0e0ff unknown   1500      1    1 averylongnicname12\n"
                  "  5  down  beef 0a0b0cd0e0ff ethernet   1500      1    1        ??\n"
                  " 63    up  beef 0a0b0cd0e0ff ethernet   1500      1    1       xnic1\n");
    const std::string conf = r.path("etc/llc2/default/llc2.");
    EXPECT_EQ(run.err, "Cannot open " + conf + "0: No such file or directory\n" + "Cannot open " +
                           conf + "1: No such file or directory\n" + "Cannot open " + conf +
                           "2: No such file or directory\n");
}

TEST(StatusTable, TheScanEndsAtTheFirstRefusalOtherThanNoSuchPpa)
{
    const json three = json::array({{{"ppa", 0}}, {{"ppa", 1}}, {{"ppa", 3}}});
    struct Case {
        const char *name;
        json scenario;
        std::string rows; // ppa numbers of the rows printed
        std::size_t asked;
    };
    const Case cases[] = {
        {"no PPA at all", scenario(json::array()), "", 64},
        {"PPA 0 refused", scenario(three, {{{"request", "getppa"}, {"errno", "EIO"}}}), "", 1},
        {"PPA 2 refused",
         scenario(three, {{{"request", "getppa"}, {"ppa", 2}, {"errno", "EPERM"}}}), "0 1", 3},
        {"PPA 3 times out",
         scenario(three, {{{"request", "getppa"}, {"ppa", 3}, {"errno", "ETIME"}}}), "0 1", 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.start_sim(c.scenario);
        const llc2test::Run run = r.run_llc2({"-q"});
        EXPECT_EQ(run.status, 0);
        ASSERT_TRUE(run.out.starts_with(header));
        std::string rows;
        for (std::size_t at = header.size(); at < run.out.size(); at = run.out.find('\n', at) + 1)
            rows += (rows.empty() ? "" : " ") + std::to_string(std::stoi(run.out.substr(at, 3)));
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(r.log("ioctl").size(), c.asked);
        // Only the missing configuration files are mentioned.
        EXPECT_EQ(run.err.find("Cannot open LLC2"), std::string::npos);
        EXPECT_EQ(r.log("close").size(), 1U);
    }
}

TEST(StatusTable, NoDriverNoTable)
{
    SimRoot r;
    const llc2test::Run run = r.run_llc2({});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Cannot open LLC2 device: No such file or directory\n");
}

json fault(const char *request, json action)
{
    json f = std::move(action);
    f["request"] = request;
    return f;
}

// One PPA, and each way one step of its DLPI exchange can go wrong.
TEST(StatusTable, DlpiFailures)
{
    struct Row {
        const char *name;
        json fault;
        bool columns;      // the four DLPI columns printed, else the placeholder
        const char *steps; // DLPI traffic, see dlpi_steps
        std::string debug; // what -d adds after "Checking PPA 0"
    };
    const json dlpi_error = {{"dlpi", "error_ack"}};
    const Row rows[] = {
        {"all well", json(nullptr), true, "attach info detach", ""},
        {"attach: putmsg fails", fault("attach", {{"errno", "EIO"}}), false, "attach flush",
         "device_info: putmsg(): Input/output error\n"},
        {"attach: getmsg fails", fault("attach", {{"dlpi", "getmsg_errno"}, {"errno", "EBADMSG"}}),
         false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Bad message\n"},
        {"attach: DL_ERROR_ACK", fault("attach", dlpi_error), false, "attach flush",
         "device_info: wrong reply primitive: 5\n"},
        {"attach: DL_INFO_ACK", fault("attach", {{"dlpi", "wrong_primitive"}}), false,
         "attach flush", "device_info: wrong reply primitive: 3\n"},
        {"attach: reply with a data part", fault("attach", {{"dlpi", "data"}}), false,
         "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Success\n"},
        {"attach: reply longer than 76 bytes", fault("attach", {{"dlpi", "long"}}), false,
         "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Success\n"},
        {"attach: 3-byte reply", fault("attach", {{"dlpi", "short"}, {"length", 3}}), false,
         "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Protocol error\n"},
        {"attach: empty control part", fault("attach", {{"dlpi", "short"}, {"length", 0}}), false,
         "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Protocol error\n"},
        {"info: putmsg fails", fault("info", {{"errno", "ENOSR"}}), false, "attach info detach",
         "device_info: putmsg(): Out of streams resources\n"},
        {"info: getmsg fails", fault("info", {{"dlpi", "getmsg_errno"}, {"errno", "EIO"}}), false,
         "attach info detach", "device_info: getmsg(DL_INFO_REQ): Input/output error\n"},
        {"info: DL_ERROR_ACK", fault("info", dlpi_error), false, "attach info detach", ""},
        {"info: DL_OK_ACK", fault("info", {{"dlpi", "wrong_primitive"}}), false,
         "attach info detach", ""},
        {"info: ends before dl_service_mode", fault("info", {{"dlpi", "short"}, {"length", 35}}),
         false, "attach info detach", ""},
        {"info: ends with dl_service_mode", fault("info", {{"dlpi", "short"}, {"length", 36}}),
         true, "attach info detach", ""},
        {"info: 2-byte reply", fault("info", {{"dlpi", "short"}, {"length", 2}}), false,
         "attach info detach", ""},
        {"info: reply longer than 76 bytes", fault("info", {{"dlpi", "long"}, {"extra", 12}}), true,
         "attach info flush detach", ""},
        {"info: reply with a data part", fault("info", {{"dlpi", "data"}}), true,
         "attach info flush detach", ""},
        {"detach: putmsg fails", fault("detach", {{"errno", "EIO"}}), true,
         "attach info detach flush", "device_info: putmsg(): Input/output error\n"},
        {"detach: getmsg fails", fault("detach", {{"dlpi", "getmsg_errno"}, {"errno", "EIO"}}),
         true, "attach info detach flush", ""},
        {"detach: DL_ERROR_ACK", fault("detach", dlpi_error), true, "attach info detach", ""},
        {"detach: reply with a data part", fault("detach", {{"dlpi", "data"}}), true,
         "attach info detach", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SimRoot r;
        r.write_conf(0, conf_text("xnic", 0));
        json faults = json::array();
        if (!row.fault.is_null())
            faults.push_back(row.fault);
        r.start_sim(scenario({{{"ppa", 0}, {"state", 4}, {"id", 1}}}, faults));

        const llc2test::Run quiet = r.run_llc2({});
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.out, header + "  0    up  0001 020000a1b2c3 " +
                                 (row.columns ? "ethernet   1500      1    1 " : no_info) +
                                 "      xnic0\n");
        EXPECT_EQ(quiet.err, "");
        EXPECT_EQ(dlpi_steps(r), row.steps);

        const llc2test::Run loud = r.run_llc2({"-d"});
        EXPECT_EQ(loud.out, quiet.out);
        EXPECT_EQ(loud.err, checking(63, 0, row.debug));
    }
}

} // namespace
