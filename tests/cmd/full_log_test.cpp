// SPDX-License-Identifier: Apache-2.0
// A boot log at its size limit (ulimit -f) never cuts a start short: the
// action runs to its end, standard output that could not be written is a
// write error, standard error that could not be written loses its messages.
#include "../llc2conf/run.h"

#include <gtest/gtest.h>

namespace
{

TEST(FullLog, TheActionRunsToItsEnd)
{
    const std::string log = " \"$LLC2_ROOT/boot.log\"";
    const auto down = [](int ppa) {
        return "PPA " + std::to_string(ppa) + ": not plumbed (configured, llc2_on=1)\n";
    };
    const std::string up = "PPA 0: up\nPPA 1: up\nPPA 2: up\n";
    const std::string none = down(0) + down(1) + down(2);
    const struct {
        std::vector<std::string> words;
        std::string redirect; // into the full log; what is left reaches Run
        bool missing;         // PPA 1's device is missing
        int status;
        std::string told; // the program that told of the write error
        std::string then; // llc2 --status afterwards
    } cases[] = {
        {{"llc2", "--apply"}, ">>" + log + " 2>&1", false, 255, "", up},
        {{"llc2", "--apply"}, ">>" + log, false, 255, "llc2", up},
        // The message that fails is the missing device's.
        {{"llc2", "-P"}, "2>>" + log, true, 255, "", "PPA 0: up\n" + down(1) + "PPA 2: up\n"},
        // The file fits below the limit; its status line does not.
        {{"llc2conf", "create", "3", "xnic3"}, ">>" + log, false, 1, "llc2conf", none + down(3)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.back() + " " + c.redirect);
        llc2test::SimRoot r;
        for (const int ppa : {0, 1, 2})
            r.write_conf(ppa, llc2test::conf_text(ppa == 1 && c.missing ? "nosuch" : "xnic", ppa));
        r.write_file("boot.log", std::string(8192, '#'));
        r.start_sim();
        const llc2test::Run run = conftool::shell(r, c.redirect, c.words, "ulimit -f 4; ");
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err, c.told.empty() ? "" : c.told + ": write error: File too large\n");
        EXPECT_EQ(conftool::slurp(r.path("boot.log")), std::string(8192, '#'));
        EXPECT_EQ(r.run_llc2({"--status"}).out, c.then);
    }
}

} // namespace
