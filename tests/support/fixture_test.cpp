// The helper every end-to-end test stands on: what it reports of a run must be
// exactly what the program did, and it must leave nothing behind.
#include "sim_fixture.h"

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

TEST(Unhex, DecodesAndRejects)
{
    EXPECT_EQ(llc2test::unhex("00ff0A"), (std::vector<unsigned char>{0, 255, 10}));
    EXPECT_THROW(llc2test::unhex("abc"), std::invalid_argument);
    EXPECT_THROW(llc2test::unhex("zz"), std::invalid_argument);
}

} // namespace
