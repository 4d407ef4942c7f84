// SPDX-License-Identifier: Apache-2.0
// The helper every end-to-end test stands on: what it reports of a run must be
// exactly what the program did, and it must leave nothing behind.
#include "sim_fixture.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using llc2test::run_program;

struct ProgramCase {
    const char *script;
    int status;
    const char *out;
    const char *err;
};

TEST(RunProgram, ReportsStatusAndKeepsStreamsApart)
{
    const ProgramCase cases[] = {
        {"exit 0", 0, "", ""},
        {"echo out; echo err >&2; exit 3", 3, "out\n", "err\n"},
        {"printf 'a\\0b'; exit 255", 255, std::string_view("a\0b", 3).data(), ""},
        {"kill -TERM $$", 128 + 15, "", ""},
        {"cat; echo done", 0, "done\n", ""}, // standard input is empty, not the test's
    };
    for (const ProgramCase &c : cases) {
        SCOPED_TRACE(c.script);
        const llc2test::Run r =
            run_program({"/bin/sh", "-c", c.script}, {"PATH=/usr/bin:/bin"}, 10);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        if (std::string_view(c.script).starts_with("printf"))
            EXPECT_EQ(r.out, std::string("a\0b", 3));
        else
            EXPECT_EQ(r.out, c.out);
    }
}

TEST(RunProgram, KillsARunThatOverstaysItsTimeout)
{
    const llc2test::Run r =
        run_program({"/bin/sh", "-c", "echo started; exec sleep 30"}, {"PATH=/usr/bin:/bin"}, 1);
    EXPECT_EQ(r.status, 128 + 9);
    EXPECT_EQ(r.out, "started\n");
}

TEST(RunProgram, PassesExactlyTheGivenEnvironment)
{
    const llc2test::Run r =
        run_program({"/usr/bin/env"}, {"PATH=/usr/bin:/bin", "LLC2_ROOT=/x"}, 10);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "PATH=/usr/bin:/bin\nLLC2_ROOT=/x\n");
}

TEST(SimRoot, LaysOutARootAndRemovesItAfterwards)
{
    std::string root;
    {
        llc2test::SimRoot sr;
        root = sr.root();
        EXPECT_TRUE(root.starts_with("/tmp/llc2t."));
        EXPECT_TRUE(std::filesystem::is_directory(sr.path("etc/llc2/default")));
        EXPECT_TRUE(std::filesystem::is_directory(sr.path("dev")));
        sr.write_conf(3, "devicename=xnic\n");
        EXPECT_TRUE(std::filesystem::is_regular_file(sr.path("etc/llc2/default/llc2.3")));
        EXPECT_TRUE(sr.log().empty());
    }
    EXPECT_FALSE(std::filesystem::exists(root));
}

// A scenario llc2sim refuses must fail the start loudly, with llc2sim's own
// reason, and leave the root ready for a good one.
TEST(SimRoot, RefusedScenarioFailsTheStartWithTheReason)
{
    const std::pair<const char *, const char *> cases[] = {
        {"{", "not JSON"},
        {R"({"interface": []})", "unknown key"},
        {R"({"ppas": [{"ppa": 256}]})", "out of range"},
    };
    llc2test::SimRoot sr;
    for (const auto &[text, says] : cases) {
        SCOPED_TRACE(text);
        try {
            sr.start_sim_text(text);
            ADD_FAILURE() << "started";
        } catch (const std::runtime_error &e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("status 2"), std::string::npos) << what;
            EXPECT_NE(what.find(says), std::string::npos) << what;
        }
        EXPECT_FALSE(sr.sim_running());
        EXPECT_EQ(sr.stop_sim(), -1);
    }
    sr.start_sim();
    EXPECT_TRUE(std::filesystem::exists(sr.dev("xnic")));
    EXPECT_EQ(sr.stop_sim(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(sr.dev("xnic")));
}

// llc2sim may be halfway through a line when a test reads the log.
TEST(SimRoot, LogReadsWholeLinesOnly)
{
    llc2test::SimRoot sr;
    auto three = [](const std::vector<nlohmann::json> &records) { return records.size() >= 3; };
    sr.write_file("llc2sim.log", "{\"kind\": \"open\"}\n\n{\"kind\": \"ioctl\"}\n{\"kind\": \"li");
    EXPECT_EQ(sr.log().size(), 2U);
    EXPECT_EQ(sr.log("ioctl").size(), 1U);
    EXPECT_FALSE(sr.wait_log(three, 50));

    sr.write_file("llc2sim.log",
                  "{\"kind\": \"open\"}\n{\"kind\": \"ioctl\"}\n{\"kind\": \"link\"}\n");
    EXPECT_TRUE(sr.wait_log(three, 50));
    EXPECT_EQ(sr.log("link").size(), 1U);
    // A whole line that is not JSON is llc2sim's fault and must not pass.
    sr.write_file("llc2sim.log", "{\"kind\": \"open\"\n");
    EXPECT_THROW(sr.log(), nlohmann::json::parse_error);
}

TEST(Unhex, DecodesAndRejects)
{
    EXPECT_EQ(llc2test::unhex("00ff0A"), (std::vector<unsigned char>{0, 255, 10}));
    EXPECT_THROW(llc2test::unhex("abc"), std::invalid_argument);
    EXPECT_THROW(llc2test::unhex("zz"), std::invalid_argument);
    // hex writes what the log writes: lower case, two digits a byte.
    EXPECT_EQ(llc2test::hex({0, 255, 10, 0xa5}), "00ff0aa5");
}

} // namespace
