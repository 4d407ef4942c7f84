// What each action reaches before the operations this build lacks: the
// checks main makes itself (configuration directory, configuration file,
// control device), the debug listing of -P, and the plain refusal of the
// missing operation with status 255. When an operation arrives, the
// expectations for its action change here.
#include "cmd_test_util.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using llc2test::conf_text;
using llc2test::SimRoot;

const std::string no_plumb_all = "llc2: -P: plumbing all PPAs is not available in this build\n";
const std::string no_plumb = "llc2: plumbing a PPA is not available in this build\n";
const std::string no_init = "llc2: initialising a PPA is not available in this build\n";

TEST(PlumbAll, ListsTheConfiguredPpasOnlyUnderDebug)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 3));
    r.start_sim();
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
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, 255);
        if (c.listed) {
            EXPECT_EQ(run.err, "\nExisting config files found:\n" + no_plumb_all);
            EXPECT_EQ(run.out, "Device: xnic, instance: 3, PPA 1\n");
        } else {
            EXPECT_EQ(run.err, no_plumb_all);
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(PlumbAllAndInit, StopAtAnUnreadableConfigurationDirectory)
{
    for (const char *opt : {"-P", "-i"}) {
        SCOPED_TRACE(opt);
        SimRoot r;
        std::filesystem::remove_all(r.path("etc/llc2/default"));
        r.start_sim();
        const llc2test::Run run = r.run_llc2({opt, "0"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.err, "Cannot open default directory: No such file or directory\n"
                           "Error opening LLC2 configuration files: No such file or directory\n");
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(r.log().empty()) << "the driver was reached";
    }
}

TEST(Init, ChecksTheDirectoryAndTheDeviceBeforeTheMissingInitialisation)
{
    SimRoot r;
    r.write_conf(4, conf_text("xnic", 0));
    const llc2test::Run no_driver = r.run_llc2({"-i", "4"});
    EXPECT_EQ(no_driver.status, 255);
    EXPECT_EQ(no_driver.err, "Cannot open LLC2 device: No such file or directory\n");

    r.start_sim();
    const llc2test::Run run = r.run_llc2({"-i", "4"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, no_init);
    EXPECT_EQ(r.log("open").size(), 1U);
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

TEST(PlumbOne, NeedsTheDeviceThenReachesTheMissingPlumbing)
{
    SimRoot r;
    r.write_conf(3, conf_text("xnic", 0));
    const llc2test::Run no_driver = r.run_llc2({"-p", "3"});
    EXPECT_EQ(no_driver.status, 255);
    EXPECT_EQ(no_driver.err, "Cannot open LLC2 device: No such file or directory\n");

    r.start_sim();
    const llc2test::Run run = r.run_llc2({"-p", "3"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, no_plumb + "Cannot plumb PPA 3\n");
    EXPECT_TRUE(cmdtest::requests(r).empty());
}

} // namespace
