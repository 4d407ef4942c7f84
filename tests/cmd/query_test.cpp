// SPDX-License-Identifier: Apache-2.0
// The status table against llc2sim: the rows as printed, the scan over PPA
// numbers, and for each way a DLPI step can fail the row, the traffic on
// the control stream (flushes, whether a detach went) and what -d says.
#include "cmd_test_util.h"

#include <gtest/gtest.h>
#include <ostream>

namespace
{

using cmdtest::checking;
using llc2test::conf_text;
using llc2test::SimRoot;
using nlohmann::json;

const std::string header = "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n";

// llc2sim with the interface xnic, these PPAs and these faults (JSON texts).
void start(SimRoot &r, const char *ppas, const char *faults = "[]")
{
    json s = llc2test::default_scenario();
    s["ppas"] = json::parse(ppas);
    s["faults"] = json::parse(faults);
    r.start_sim(s);
}

TEST(StatusTable, TheWorkedExample)
{
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    r.write_conf(2, conf_text("xnic", 1));
    start(r,
          R"([{"ppa":0,"state":4,"id":3,"mac":"02:00:00:a1:b2:c3","dlpi":{"max_sdu":1497}},
              {"ppa":1,"state":8,"id":4,"mac":"02:00:00:a1:b2:c4"},
              {"ppa":2,"state":0,"id":5,"mac":"02:00:00:a1:b2:c5",
               "dlpi":{"max_sdu":1497,"mac_type":0}}])",
          R"([{"request":"attach","ppa":1,"dlpi":"error_ack"}])");
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-q"}, {}}) {
        SCOPED_TRACE(args.size());
        const llc2test::Run run = r.run_llc2(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out,
                  header + "  0    up  0003 020000a1b2c3 ethernet   1497      1    1       xnic0\n"
                           "  1   off  0004 020000a1b2c4       ??     ??     ??   ??        ??\n"
                           "  2  down  0005 020000a1b2c5 csma/cd   1497      1    1       xnic1\n");
        EXPECT_EQ(run.err, "Cannot open " + r.path("etc/llc2/default/llc2.1") +
                               ": No such file or directory\n");
    }
    // Each run: one control stream, and PPAs 0 to 63 asked for in turn with
    // a fresh record holding only the number.
    EXPECT_EQ(r.log("open").size(), 2U);
    const std::vector<json> asked = r.log("ioctl");
    ASSERT_EQ(asked.size(), 128U);
    for (std::size_t i = 0; i < asked.size(); ++i) {
        char want[21];
        std::snprintf(want, sizeof want, "%02zx000000000000000000", i % 64);
        EXPECT_EQ(asked[i].value("payload", ""), want);
        EXPECT_EQ(asked[i].value("ic_cmd", 0), 10);
        EXPECT_EQ(asked[i].value("ic_timout", 0), 10);
    }
}

TEST(StatusTable, HowFieldsPrint)
{
    SimRoot r;
    r.write_conf(3, conf_text("averylongnicname", 12));
    r.write_conf(5, "devicename=xnic\n"); // incomplete
    r.write_conf(63, conf_text("xnic", 1));
    start(r, R"([
      {"ppa":0,"state":6,"id":0,"mac":"00:00:00:00:00:00","dlpi":{"mac_type":1,"service_mode":3}},
      {"ppa":1,"state":12,"id":48879,"dlpi":{"mac_type":2,"service_mode":28,"max_sdu":4294967295}},
      {"ppa":2,"state":1,"id":1,"mac":"0a:0b:0c:d0:e0:ff","dlpi":{"mac_type":8,"min_sdu":0,"max_sdu":0}},
      {"ppa":3,"state":8,"id":65535,"dlpi":{"mac_type":9}},
      {"ppa":4,"state":4,"id":2,"answer_ppa":44},
      {"ppa":5,"state":241,"id":16},
      {"ppa":63,"state":4,"id":1}])");
    const llc2test::Run run = r.run_llc2({"-q"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              header +
                  "  0   bad  0000 000000000000 unknown   1500      1    3        ??\n"
                  "  1    up  beef 020000a1b2c3 tkn-ring 4294967295      1   1c        ??\n"
                  "  2  down  0001 0a0b0cd0e0ff    fddi      0      0    1        ??\n"
                  "  3   off  ffff 020000a1b2c3 unknown   1500      1    1 averylongnicname12\n"
                  " 44    up  0002 020000a1b2c3 ethernet   1500      1    1        ??\n"
                  "  5  down  0010 020000a1b2c3 ethernet   1500      1    1        ??\n"
                  " 63    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic1\n");
    const std::string conf = "Cannot open " + r.path("etc/llc2/default/llc2.");
    EXPECT_EQ(run.err, conf + "0: No such file or directory\n" + conf +
                           "1: No such file or directory\n" + conf +
                           "2: No such file or directory\n" + conf +
                           "4: No such file or directory\n");
}

TEST(StatusTable, ScanEndsQuietlyAtOtherRefusals)
{
    const struct {
        const char *faults;
        std::size_t rows;
        std::size_t asked;
        int status = 0; // a driver that did not answer fails the run
    } cases[] = {
        {"[]", 3, 64},
        {R"([{"request":"getppa","errno":"EIO"}])", 0, 1},
        {R"([{"request":"getppa","ppa":2,"errno":"EPERM"}])", 2, 3},
        {R"([{"request":"getppa","ppa":3,"errno":"ETIME"}])", 2, 4, 255},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.faults);
        SimRoot r;
        for (int ppa : {0, 1, 3})
            r.write_conf(ppa, conf_text("xnic", ppa));
        start(r, R"([{"ppa":0},{"ppa":1},{"ppa":3}])", c.faults);
        const llc2test::Run run = r.run_llc2({"-q"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1 + c.rows);
        EXPECT_EQ(r.log("ioctl").size(), c.asked);
        // llc2sim logs the close once it sees the connection go, which may
        // be a moment after llc2 has ended.
        EXPECT_TRUE(r.wait_log([](const std::vector<nlohmann::json> &log) {
            return std::count_if(log.begin(), log.end(), [](const nlohmann::json &rec) {
                       return rec.value("kind", "") == "close";
                   }) == 1;
        }));
    }
}

// One PPA, and each way one step of its DLPI exchange can go wrong: the
// columns printed or not, the DLPI traffic, and the -d message. One test case
// each, so that a slow host meets no time limit for the lot.
struct DlpiFailure {
    const char *name;
    const char *faults;
    bool columns;
    const char *steps;
    const char *debug;
};

void PrintTo(const DlpiFailure &f, std::ostream *os)
{
    *os << f.faults;
}

const DlpiFailure dlpi_failures[] = {
    // clang-format off
    {"none", "[]", true, "attach info detach", ""},
    {"attach_eio", R"([{"request":"attach","errno":"EIO"}])", false, "attach flush", "device_info: putmsg(): Input/output error\n"},
    {"attach_getmsg_ebadmsg", R"([{"request":"attach","dlpi":"getmsg_errno","errno":"EBADMSG"}])", false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Bad message\n"},
    {"attach_error_ack", R"([{"request":"attach","dlpi":"error_ack"}])", false, "attach flush", "device_info: wrong reply primitive: 5\n"},
    {"attach_wrong_primitive", R"([{"request":"attach","dlpi":"wrong_primitive"}])", false, "attach flush", "device_info: wrong reply primitive: 3\n"},
    {"attach_data", R"([{"request":"attach","dlpi":"data"}])", false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Success\n"},
    {"attach_long", R"([{"request":"attach","dlpi":"long"}])", false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Success\n"},
    {"attach_short_3", R"([{"request":"attach","dlpi":"short","length":3}])", false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Protocol error\n"},
    {"attach_short_0", R"([{"request":"attach","dlpi":"short","length":0}])", false, "attach flush", "device_info: getmsg(DL_ATTACH_REQ): Protocol error\n"},
    {"attach_poll_eintr", R"([{"request":"attach","dlpi":"poll_errno","errno":"EINTR"}])", false, "attach flush", "device_info: PPA (0) not responding\n"},
    {"info_enosr", R"([{"request":"info","errno":"ENOSR"}])", false, "attach info detach", "device_info: putmsg(): Out of streams resources\n"},
    {"info_getmsg_eio", R"([{"request":"info","dlpi":"getmsg_errno","errno":"EIO"}])", false, "attach info detach", "device_info: getmsg(DL_INFO_REQ): Input/output error\n"},
    {"info_poll_eio", R"([{"request":"info","dlpi":"poll_errno","errno":"EIO"}])", false, "attach info detach", "device_info: PPA (0) not responding\n"},
    {"info_error_ack", R"([{"request":"info","dlpi":"error_ack"}])", false, "attach info detach", ""},
    {"info_wrong_primitive", R"([{"request":"info","dlpi":"wrong_primitive"}])", false, "attach info detach", ""},
    {"info_short_2", R"([{"request":"info","dlpi":"short","length":2}])", false, "attach info detach", ""},
    {"info_short_35", R"([{"request":"info","dlpi":"short","length":35}])", false, "attach info detach", ""},
    {"info_short_36", R"([{"request":"info","dlpi":"short","length":36}])", true, "attach info detach", ""},
    {"info_long", R"([{"request":"info","dlpi":"long","extra":12}])", true, "attach info flush detach", ""},
    {"info_data", R"([{"request":"info","dlpi":"data"}])", true, "attach info flush detach", ""},
    {"detach_eio", R"([{"request":"detach","errno":"EIO"}])", true, "attach info detach flush", "device_info: putmsg(): Input/output error\n"},
    {"detach_getmsg_eio", R"([{"request":"detach","dlpi":"getmsg_errno","errno":"EIO"}])", true, "attach info detach flush", ""},
    {"detach_poll_enomem", R"([{"request":"detach","dlpi":"poll_errno","errno":"ENOMEM"}])", true, "attach info detach flush", "device_info: PPA (0) not responding\n"},
    {"detach_error_ack", R"([{"request":"detach","dlpi":"error_ack"}])", true, "attach info detach", ""},
    {"detach_data", R"([{"request":"detach","dlpi":"data"}])", true, "attach info detach", ""},
    // clang-format on
};

struct DlpiRow : ::testing::TestWithParam<DlpiFailure> {
};

INSTANTIATE_TEST_SUITE_P(Query, DlpiRow, ::testing::ValuesIn(dlpi_failures),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(DlpiRow, ColumnsAndTrace)
{
    const DlpiFailure &row = GetParam();
    SimRoot r;
    r.write_conf(0, conf_text("xnic", 0));
    start(r, R"([{"ppa":0,"state":4,"id":1}])", row.faults);
    const llc2test::Run quiet = r.run_llc2({});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out,
              header + "  0    up  0001 020000a1b2c3 " +
                  (row.columns ? "ethernet   1500      1    1 " : "      ??     ??     ??   ?? ") +
                  "      xnic0\n");
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(cmdtest::dlpi_steps(r), row.steps);
    const llc2test::Run loud = r.run_llc2({"-d"});
    EXPECT_EQ(loud.out, quiet.out);
    EXPECT_EQ(loud.err, checking({{0, row.debug}}));
}

} // namespace
