// SPDX-License-Identifier: Apache-2.0
// llc2conf create: what it refuses leaves the configuration as it was; what
// it writes reads back through the parser as asked.
#include "run.h"

#include "llc2_conf.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace
{

using conftool::run;
using conftool::usage;
using llc2test::SimRoot;

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Create, RefusalsLeaveTheExistingFileAsItWas)
{
    SimRoot r;
    const std::string original = llc2test::conf_text("xnic", 1) + "# kept by hand\n";
    r.write_conf(5, original);
    const std::string file = r.path("etc/llc2/default/llc2.5");

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err; // usage() follows it when status is 2
    };
    const std::string whole = ": a whole number from 0 up is expected\n";
    const std::string too_large = ": the driver receives at most 65535\n";
    // One setting on an otherwise sound command line.
    const auto kw = [](const char *word) {
        return std::vector<std::string>{"create", "-f", "5", "xnic2", word};
    };
    const Case cases[] = {
        {{"create", "5", "xnic2"}, 1, file + " exists; give -f to replace it\n"},
        {{"create", "-f", "5", "xnic"}, 1, "Invalid link name: xnic\n"},
        {{"create", "-f", "5", "x nic2"}, 1, "Invalid link name: x nic2\n"},
        // Nothing but a device directly in /dev.
        {{"create", "-f", "5", "../../tmp/evil0"}, 1, "Invalid link name: ../../tmp/evil0\n"},
        {{"create", "-f", "5", "..0"}, 1, "Invalid link name: ..0\n"},
        {{"create", "-f", "5", "x#0"}, 1, "Invalid link name: x#0\n"},
        {{"create", "-f", "5", "x=y0"}, 1, "Invalid link name: x=y0\n"},
        {{"create", "-f", "5", "x\tnic0"}, 1, "Invalid link name: x\\tnic0\n"},
        {{"create", "-f", "5", "x\033[2Jnic0"}, 1, "Invalid link name: x\\033[2Jnic0\n"},
        {{"create", "-2147483649", "x0"}, 2, "Invalid PPA number: -2147483649\n"},
        {kw("acktimr=5"), 1, "Unknown keyword: acktimr\n"},
        {kw("devicename=eth"), 1, "Unknown keyword: devicename\n"},
        {kw("ACKTIMER=5"), 1, "Unknown keyword: ACKTIMER\n"},
        {{"create", "-f", "5", "xnic2", "acktimer=5", "acktimer=5"},
         1,
         "Keyword acktimer given twice\n"},
        {kw("acktimer"), 1, "Not a keyword=value pair: acktimer\n"},
        {kw("acktimer=-1"), 1, "Invalid value for acktimer: -1" + whole},
        {kw("acktimer=+1"), 1, "Invalid value for acktimer: +1" + whole},
        {kw("acktimer=5x"), 1, "Invalid value for acktimer: 5x" + whole},
        {kw("acktimer= 5"), 1, "Invalid value for acktimer:  5" + whole},
        {kw("maxretry="), 1, "Invalid value for maxretry: " + whole},
        {kw("acktimer=65536"), 1, "Value for acktimer too large: 65536" + too_large},
        {kw("timeinterval=99999999999999999999999"), 1,
         "Value for timeinterval too large: 99999999999999999999999" + too_large},
        {kw("llc2_on=2"), 1, "Invalid value for llc2_on: 2: 0 or 1 is expected\n"},
        {kw("deviceloopback=10"), 1, "Invalid value for deviceloopback: 10: 0 or 1 is expected\n"},
        // Command lines llc2conf cannot act on.
        {{}, 2, ""},
        {{"frob", "5"}, 2, ""},
        {{"create"}, 2, ""},
        {{"create", "-f", "5"}, 2, ""},
        {{"create", "-x", "5", "xnic2"}, 2, "Unknown option: -x\n"},
        {{"create", "5x", "xnic2"}, 2, "Invalid PPA number: 5x\n"},
        // A PPA the driver cannot be asked about, negative ones too.
        {{"create", "-f", "-5", "xnic2"}, 2, "Invalid PPA number: -5\n"},
        {{"create", "--", "-5", "xnic2"}, 2, "Invalid PPA number: -5\n"},
        {{"create", "256", "xnic2"}, 2, "Invalid PPA number: 256\n"},
        // A link name cannot start with '-': there it is an option out of place.
        {{"create", "-f", "5", "-xnic0"}, 2, "Options go before the PPA: -xnic0\n"},
        {{"show"}, 2, ""},
        {{"show", "5", "6"}, 2, ""},
        {{"show", "five"}, 2, "Invalid PPA number: five\n"},
        {{"check", "5", "x"}, 2, "Invalid PPA number: x\n"},
    };
    for (const Case &c : cases) {
        std::string shown;
        for (const std::string &a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const llc2test::Run result = run(r, c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.status == 2 ? c.err + usage() : c.err);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(slurp(file), original);
        EXPECT_EQ(conftool::conf_entries(r), std::vector<std::string>{"llc2.5"});
    }
}

TEST(Create, WritesFilesThatReadBackAsAsked)
{
    SimRoot r;
    r.write_file("dev/xnic", "");
    r.write_conf(5, llc2test::conf_text("xnic", 1));
    using params_t = std::array<int, CONF_NPARAMS>;
    struct Case {
        std::vector<std::string> args;
        int ppa;
        std::string device;
        int instance;
        params_t params;
        std::string err;
    };
    const Case cases[] = {
        // Unnamed values are 0, the driver's default; llc2_on is 1.
        {{"create", "0", "xnic0"}, 0, "xnic", 0, {1}, ""},
        // Every keyword, at its limits, in an order of its own; -f replaces.
        {{"create", "-f", "5", "net_a12", "rcvwindowsz=65535", "xmitwindowsz=1", "maxretry=7",
          "inacttimer=60", "rembusytimer=9", "rejecttimer=8", "polltimer=5", "rsptimer=4",
          "acktimer=3", "timeinterval=0", "deviceloopback=1", "llc2_on=0"},
         5,
         "net_a",
         12,
         {0, 1, 0, 3, 4, 5, 8, 9, 60, 7, 1, 65535},
         ""},
        {{"create", "64", "xnic2147483647", "acktimer=007"},
         64,
         "xnic",
         2147483647,
         {1, 0, 0, 7},
         "Warning: PPA 64 is above 63: llc2 -q and -U never reach it\n"},
        {{"create", "255", "xnic1"},
         255,
         "xnic",
         1,
         {1},
         "Warning: PPA 255 is above 63: llc2 -q and -U never reach it\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        const llc2test::Run result = run(r, c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, c.err);
        const std::string path = r.path("etc/llc2/default/llc2." + std::to_string(c.ppa));
        std::FILE *fp = std::fopen(path.c_str(), "r");
        ASSERT_NE(fp, nullptr);
        std::array<char, LLC2_DEVNAME_SIZE> device{};
        int instance = -1;
        params_t params{};
        EXPECT_EQ(read_conf_file(fp, device.data(), &instance, params.data()), 0);
        std::fclose(fp);
        EXPECT_EQ(device.data(), c.device);
        EXPECT_EQ(instance, c.instance);
        EXPECT_EQ(params, c.params);
    }
}

TEST(Create, MakesTheMissingDirectoriesOpenToAll)
{
    struct Case {
        std::string missing;           // removed from the root
        bool file_there;               // and a regular file put in its place
        std::vector<std::string> made; // directories said to be created
        const char *refused;           // the reason of a refusal, or null
    };
    const std::string file = "etc/llc2/default/llc2.1";
    const Case cases[] = {
        {"etc", false, {"etc", "etc/llc2", "etc/llc2/default"}, nullptr},
        {"etc/llc2/default", false, {"etc/llc2/default"}, nullptr},
        {"etc/llc2", true, {}, "Not a directory"},
    };
    // A umask that shuts others out: the mode must be create's own.
    const mode_t mask = umask(077);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.missing);
        SimRoot r;
        r.write_file("dev/xnic", "");
        std::filesystem::remove_all(r.path(c.missing));
        if (c.file_there)
            r.write_file(c.missing, "");
        const llc2test::Run result = run(r, {"create", "1", "xnic1"});
        const int status = c.refused != nullptr ? 1 : 0;
        EXPECT_EQ(result.status, status);
        std::string said;
        for (const std::string &dir : c.made) {
            said += "Created directory " + r.path(dir) + "\n";
            struct stat st {
            };
            ASSERT_EQ(stat(r.path(dir).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0755U);
        }
        if (c.refused != nullptr)
            said += "Cannot create conf file " + r.path(file) + ": " + c.refused + "\n";
        EXPECT_EQ(result.err, said);
        EXPECT_EQ(run(r, {"check", "1"}).status, status) << "the file reads back";
    }
    umask(mask);
}

} // namespace
