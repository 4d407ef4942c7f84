// SPDX-License-Identifier: Apache-2.0
// llc2conf check and show on configuration directories as an administrator
// leaves them.
#include "run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace
{

using conftool::run;
using conftool::with_line;
using llc2test::conf_text;
using llc2test::SimRoot;

TEST(Check, ReportsEveryFaultAndFailsForAny)
{
    SimRoot r;
    r.write_file("dev/xnic", ""); // the node llc2 -p opens
    r.write_conf(0, conf_text("xnic", 0));
    r.write_conf(1, with_line(conf_text("xnic", 1), "acktimer=2", "acktimer=x"));
    r.write_conf(2, conf_text("xnic", 0)); // PPA 0's device and instance
    r.write_conf(3, with_line(with_line(conf_text("xnic", 3), "polltimer=4", "polltimer=70000"),
                              "rsptimer=2", "rsptimer=65536"));
    r.write_conf(4, with_line(conf_text("xnic", 4), "llc2_on=1", "llc2_on=2"));
    r.write_conf(5, with_line(conf_text("xnic", 5, 0), "rcvwindowsz=14", ""));
    r.write_conf(6, conf_text("xnic", 6, 0));
    r.write_conf(64, conf_text("xnic", 64));
    r.write_conf(255, conf_text("xnic", 255));
    r.write_conf(256, conf_text("xnic", 256));
    r.write_conf(-1, conf_text("xnic", 99));
    r.write_conf(10,
                 with_line(conf_text("xnic", 10), "devicename=xnic", "devicename=../../tmp/evil"));
    // Refused in the rest of a long line, as llc2 reads it.
    r.write_conf(12, with_line(conf_text("xnic", 12), "acktimer=2",
                               "note" + std::string(2100, ' ') + "acktimer=x"));
    r.write_conf(11, with_line(conf_text("xnic", 11), "devicename=xnic",
                               std::string("devicename=xn\0ic", 16)));
    r.write_file("etc/llc2/default/llc2.6.bak", conf_text("xnic", 9));
    std::filesystem::create_symlink("nowhere", r.path("etc/llc2/default/llc2.8"));

    const std::string dir = r.path("etc/llc2/default/");
    // Stray names and old temporary files are warned of, in name order,
    // after the scan; a write younger than a minute may be in progress.
    r.write_file("etc/llc2/default/.llc2.6.AbCdEf", "");
    r.write_file("etc/llc2/default/.llc2.7.GhIjKl", "");
    // The writers' lock, however old, is no left-over.
    r.write_file("etc/llc2/default/.llc2conf.lock", "");
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const char *name : {".llc2.6.AbCdEf", ".llc2conf.lock"})
        std::filesystem::last_write_time(r.path("etc/llc2/default/") + name, old);
    r.write_file("etc/llc2/default/llc2.6\033[2J", "");
    const llc2test::Run all = run(r, {"check"});
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(all.out, "PPA 0: ok: device xnic, instance 0, llc2_on 1\n"
                       "PPA 6: ok: device xnic, instance 6, llc2_on 0\n"
                       "PPA 64: ok: device xnic, instance 64, llc2_on 1\n"
                       "PPA 255: ok: device xnic, instance 255, llc2_on 1\n");
    // Each finding names the file, and the line where there is one.
    EXPECT_EQ(all.err, "Cannot open " + dir +
                           "llc2.8: No such file or directory\n"
                           ".llc2.6.AbCdEf: Warning: left over from an interrupted write; "
                           "remove it\n"
                           "llc2.6\\033[2J: Warning: not read: only llc2.<number> configures a "
                           "PPA\n"
                           "llc2.6.bak: Warning: not read: only llc2.<number> configures a PPA\n"
                           "llc2.-1: PPA -1 is outside 0 to 255: llc2 cannot ask the driver "
                           "about it\n"
                           "llc2.1:7: invalid line: acktimer=x\n"
                           "llc2.2:3: device xnic instance 0 is also configured in llc2.0\n"
                           "llc2.3:9: polltimer=70000 is cut to 4464\n"
                           "llc2.3:8: rsptimer=65536 is sent as the default 2\n"
                           "llc2.4:4: llc2_on=2: 0 or 1 is expected\n"
                           "llc2.5: missing keywords: rcvwindowsz\n"
                           "llc2.10:2: devicename=../../tmp/evil: not a device in /dev: a device "
                           "name has letters, digits, '_', '.' and '-' only\n"
                           "llc2.11:2: holds a NUL byte: llc2 reads the line only up to it\n"
                           "llc2.11:2: Warning: devicename=xn: no " +
                           r.path("dev/xn") +
                           ": llc2 -p would fail to open it\n"
                           "llc2.12:7: invalid line: " +
                           std::string(57, ' ') +
                           "acktimer=x\n"
                           "llc2.12:7: Warning: longer than 2047 characters: llc2 reads the rest "
                           "as a line of its own\n"
                           "llc2.64: Warning: PPA 64 is above 63: llc2 -q and -U never reach it\n"
                           "llc2.255: Warning: PPA 255 is above 63: llc2 -q and -U never reach "
                           "it\n"
                           "llc2.256: PPA 256 is outside 0 to 255: llc2 cannot ask the driver "
                           "about it\n");

    // Named PPAs only, each once, in order; a missing file is a fault.
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"check", "6", "0", "6"},
         0,
         "PPA 0: ok: device xnic, instance 0, llc2_on 1\n"
         "PPA 6: ok: device xnic, instance 6, llc2_on 0\n",
         ""},
        // A warning alone does not fail it: "check && llc2 -P" still boots.
        {{"check", "64"},
         0,
         "PPA 64: ok: device xnic, instance 64, llc2_on 1\n",
         "llc2.64: Warning: PPA 64 is above 63: llc2 -q and -U never reach it\n"},
        {{"check", "0", "2"},
         1,
         "PPA 0: ok: device xnic, instance 0, llc2_on 1\n",
         "llc2.2:3: device xnic instance 0 is also configured in llc2.0\n"},
        {{"check", "7", "0"},
         1,
         "PPA 0: ok: device xnic, instance 0, llc2_on 1\n",
         "Cannot open " + dir + "llc2.7: No such file or directory\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1]);
        const llc2test::Run named = run(r, c.args);
        EXPECT_EQ(named.status, c.status);
        EXPECT_EQ(named.out, c.out);
        EXPECT_EQ(named.err, c.err);
    }
    // show says what check says of a NUL byte, and fails as check does.
    const llc2test::Run nul = run(r, {"show", "11"});
    EXPECT_EQ(nul.status, 1);
    EXPECT_EQ(nul.err, "llc2.11:2: holds a NUL byte: llc2 reads the line only up to it\n"
                       "llc2.11:2: Warning: devicename=xn: no " +
                           r.path("dev/xn") + ": llc2 -p would fail to open it\n");
}

TEST(Check, EmptyAndMissingDirectories)
{
    SimRoot r;
    const llc2test::Run empty = run(r, {"check"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "No PPA is configured in " + r.path("etc/llc2/default/") + "\n");
    EXPECT_EQ(empty.err, "");

    std::filesystem::remove_all(r.path("etc/llc2/default"));
    const llc2test::Run missing = run(r, {"check"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Cannot open default directory: No such file or directory\n");
}

// list is read by programs: every file the name rule takes, ascending, in
// the words and JSON of llc2 --json; stray names are not PPAs.
TEST(List, EveryConfiguredPpaForPeopleAndPrograms)
{
    SimRoot r;
    r.write_conf(12, conf_text("xnic", 3, 0));
    r.write_conf(2, with_line(conf_text("xnic", 2), "llc2_on=1", "llc2_on=2"));
    r.write_conf(3, with_line(conf_text("xnic", 3), "acktimer=2", "acktimer=x\"\t"));
    r.write_conf(-1, with_line(conf_text("xnic", 1), "devicename=xnic", "devicename=x\"n\033"));
    std::filesystem::create_symlink("nowhere", r.path("etc/llc2/default/llc2.8"));
    for (const char *stray : {"llc2.03", "llc2.5~", ".llc2.4.AbCdEf", "llc2.x"})
        r.write_file(std::string("etc/llc2/default/") + stray, conf_text("xnic", 9));
    const std::string gone =
        "Cannot open " + r.path("etc/llc2/default/llc2.8") + ": No such file or directory";
    const std::string plain = "PPA -1: x\"n\\0331, llc2_on 1\n"
                              "PPA 2: xnic2, llc2_on 2\n"
                              "PPA 3: unusable: llc2.3:7: invalid line: acktimer=x\"\\t\n"
                              "PPA 8: unusable: " +
                              gone +
                              "\n"
                              "PPA 12: xnic3, llc2_on 0\n";
    const std::string json =
        R"({"ppas":[{"ppa":-1,"device":"x\"n\u001b","instance":1,"llc2_on":1,"error":null},)"
        R"({"ppa":2,"device":"xnic","instance":2,"llc2_on":2,"error":null},)"
        R"({"ppa":3,"device":null,"instance":null,"llc2_on":null,)"
        R"("error":"llc2.3:7: invalid line: acktimer=x\"\t"},)"
        R"({"ppa":8,"device":null,"instance":null,"llc2_on":null,"error":")" +
        gone +
        "\"},"
        R"({"ppa":12,"device":"xnic","instance":3,"llc2_on":0,"error":null}],)"
        R"("directory":")" +
        r.path("etc/llc2/default/") + "\"}\n";
    struct row {
        std::vector<std::string> args;
        std::string out;
    };
    for (const row &t : {row{{"list"}, plain}, row{{"list", "--json"}, json}}) {
        const llc2test::Run ran = run(r, t.args);
        EXPECT_EQ(conftool::said(ran), std::make_tuple(0, t.out, std::string()));
    }
}

TEST(List, DirectoryMissingUnreadableOrUsageWrong)
{
    SimRoot r;
    std::filesystem::remove_all(r.path("etc/llc2"));
    struct row {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::string usage = "Usage: " + std::string(LLC2CONF_BINARY) + " [-D <dir>] create";
    // A missing directory is a configuration with no PPA.
    for (const row &t : {row{{"list"}, 0, "", ""}, row{{"list", "--json"},
                                                       0,
                                                       "{\"ppas\":[],\"directory\":\"" +
                                                           r.path("etc/llc2/default/") + "\"}\n",
                                                       ""}})
        EXPECT_EQ(conftool::said(run(r, t.args)), std::make_tuple(t.status, t.out, t.err));
    // One that cannot be read says so, and nothing that passes for a list.
    r.write_file("etc/llc2/default", "");
    for (const auto &args : std::vector<std::vector<std::string>>{{"list"}, {"list", "--json"}})
        EXPECT_EQ(conftool::said(run(r, args)),
                  std::make_tuple(1, std::string(),
                                  std::string("Cannot open default directory: Not a directory\n")));
    for (const auto &args :
         std::vector<std::vector<std::string>>{{"list", "3"}, {"list", "--json", "-n"}}) {
        const llc2test::Run ran = run(r, args);
        EXPECT_EQ(ran.status, 2);
        EXPECT_TRUE(ran.err.starts_with(usage)) << ran.err;
    }
}

TEST(Show, WrittenBesideSent)
{
    SimRoot r;
    std::string text = conf_text("xnic", 3, 0);
    text = with_line(text, "acktimer=2", "acktimer=65536");
    text = with_line(text, "polltimer=4", "polltimer=70000");
    text = with_line(text, "inacttimer=30", "inacttimer=0");
    text = with_line(text, "rsptimer=2", "rsptimer=131075");
    text = with_line(text, "timeinterval=0", "timeinterval=65536");
    r.write_conf(3, text);
    r.write_conf(4, with_line(conf_text("xnic", 4), "maxretry=6", "maxretry=-6"));

    const llc2test::Run shown = run(r, {"show", "3"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.err, "");
    EXPECT_EQ(shown.out, "PPA 3: device xnic, instance 3, llc2_on 0\n"
                         "keyword         written     sent\n"
                         "acktimer          65536        2  default\n"
                         "polltimer         70000     4464  cut to 16 bits\n"
                         "rejecttimer           6        6\n"
                         "rembusytimer          8        8\n"
                         "inacttimer            0       30  default\n"
                         "maxretry              6        6\n"
                         "xmitwindowsz         14       14\n"
                         "rcvwindowsz          14       14\n"
                         "timeinterval      65536        0  cut to 16 bits\n"
                         "rsptimer         131075        3  cut to 16 bits\n"
                         "llc2_on is 0: llc2 -P leaves PPA 3 out, llc2 -i 3 initialises it all "
                         "the same\n");

    const llc2test::Run bad = run(r, {"show", "4"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "llc2.4:13: invalid line: maxretry=-6\nError reading parameters for PPA 4\n");

    const llc2test::Run missing = run(r, {"show", "9"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "Cannot open " + r.path("etc/llc2/default/llc2.9") + ": No such file or directory\n");
}

} // namespace
