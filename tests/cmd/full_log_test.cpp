// A boot log at its size limit (ulimit -f) never cuts a start short: the
// action runs to its end, standard output that could not be written is a
// write error, standard error that could not be written loses its messages.
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

using llc2test::conf_text;

TEST(FullLog, TheActionRunsToItsEnd)
{
    const std::string up = "PPA 0: up\nPPA 1: up\nPPA 2: up\n";
    const std::string one_down =
        "PPA 0: up\nPPA 1: not plumbed (configured, llc2_on=1)\nPPA 2: up\n";
    const std::string too_large = ": write error: File too large\n";
    const struct {
        std::vector<std::string> words;
        const char *redirect; // into the full log; what is left reaches Run
        bool missing;         // PPA 1's device is missing
        int status;
        std::string err;        // what reached the test's own standard error
        std::string afterwards; // llc2 --status then, or "" for no look
    } cases[] = {
        {{"llc2", "--apply"}, ">>\"$LOG\" 2>&1", false, 255, "", up},
        // The size limit holds for the records of what was applied too.
        {{"llc2", "--apply"},
         ">>\"$LOG\"",
         false,
         255,
         "Cannot record PPA 0: File too large\nCannot record PPA 1: File too large\n"
         "Cannot record PPA 2: File too large\nllc2" +
             too_large,
         up},
        // The message that fails is the missing device's.
        {{"llc2", "-P"}, "2>>\"$LOG\"", true, 255, "", one_down},
        {{"llc2conf", "show", "0"}, ">>\"$LOG\"", false, 1, "llc2conf" + too_large, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.back() + " " + c.redirect);
        llc2test::SimRoot r;
        for (const int ppa : {0, 1, 2})
            r.write_conf(ppa, conf_text(ppa == 1 && c.missing ? "nosuch" : "xnic", ppa));
        r.write_file("boot.log", "earlier boots\n");
        r.start_sim();
        std::vector<std::string> argv{
            "/bin/sh", "-c", std::string("ulimit -f 0; exec \"$0\" \"$@\" ") + c.redirect,
            c.words.front() == "llc2" ? llc2test::llc2_binary() : LLC2CONF_BINARY};
        argv.insert(argv.end(), c.words.begin() + 1, c.words.end());
        const llc2test::Run run = llc2test::run_program(
            argv, {"LLC2_ROOT=" + r.root(), "LC_ALL=C", "LOG=" + r.path("boot.log")}, 60);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err, c.err);
        std::ifstream log(r.path("boot.log"));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "earlier boots\n");
        if (c.afterwards.empty())
            continue;
        const llc2test::Run status = r.run_llc2({"--status"});
        EXPECT_EQ(status.out, c.afterwards);
        EXPECT_EQ(status.status, c.afterwards == up ? 0 : 3);
    }
}

} // namespace
