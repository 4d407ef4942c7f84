// SPDX-License-Identifier: Apache-2.0
// The checks main makes itself before an action's operation runs
// (configuration directory, configuration file, control device) and the
// debug listing of -P.
#include "cmd_test_util.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;

TEST(PlumbAll, ListsTheConfiguredPpasOnlyUnderDebug)
{
    struct Case {
        std::vector<std::string> args;
        bool listed;
    };
    const Case cases[] = {
        {{"-P"}, false},
        {{"-P", "-d"}, true},
        {{"-d", "-d", "-P"}, true},
        {{"-dP"}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : c.args[0]);
        SimRoot r;
        r.write_conf(1, conf_text("xnic", 3));
        r.start_sim();
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, 0);
        if (c.listed) {
            EXPECT_EQ(run.err, "\nExisting config files found:\n"
                               "Plumbing PPA 1: xnic(3)\nInitializing PPA 1\n");
            EXPECT_EQ(run.out, "Device: xnic, instance: 3, PPA 1\n");
        } else {
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(PlumbAllAndInit, StopAtAnUnreadableConfDirectory)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-P"}, {"-i", "0"}}) {
        SCOPED_TRACE(args.front());
        SimRoot r;
        std::filesystem::remove_all(r.path("etc/llc2/default"));
        r.start_sim();
        const llc2test::Run run = r.run_llc2(args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, "Cannot open default directory: No such file or directory\n"
                           "Error opening LLC2 configuration files: No such file or directory\n");
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(r.log().empty()) << "the driver was reached";
    }
}

TEST(PlumbOneAndInit, NeedTheControlDevice)
{
    for (const char *opt : {"-p", "-i"}) {
        SCOPED_TRACE(opt);
        SimRoot r;
        r.write_conf(4, conf_text("xnic", 0));
        const llc2test::Run run = r.run_llc2({opt, "4"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, "Cannot open LLC2 device: No such file or directory\n");
    }
}

TEST(PlumbOne, NeedsTheConfigurationFileFirst)
{
    SimRoot r;
    r.start_sim();
    const llc2test::Run run = r.run_llc2({"-p", "3"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Cannot open " + r.path("etc/llc2/default/llc2.3") +
                           ": No such file or directory\n"
                           "Cannot open configuration files for PPA 3\n");
    EXPECT_TRUE(r.log().empty()) << "the driver was reached";
}

} // namespace
