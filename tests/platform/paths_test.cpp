// SPDX-License-Identifier: Apache-2.0
// Every absolute path of the tool goes through rooted_path; a wrong prefix or
// an overrun buffer would send the tool to the real /etc and /dev.
#include "paths.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace
{

// Sets or clears LLC2_ROOT for one test and puts the old value back.
struct RootEnv {
    explicit RootEnv(const char *value)
    {
        if (const char *old = std::getenv("LLC2_ROOT"))
            saved = old, had = true;
        if (value != nullptr)
            ::setenv("LLC2_ROOT", value, 1);
        else
            ::unsetenv("LLC2_ROOT");
    }
    ~RootEnv()
    {
        if (had)
            ::setenv("LLC2_ROOT", saved.c_str(), 1);
        else
            ::unsetenv("LLC2_ROOT");
    }
    std::string saved;
    bool had = false;
};

TEST(RootedPath, PrefixesTheRootOnlyWhenSet)
{
    struct Case {
        const char *root;
        const char *expected;
    };
    const Case cases[] = {{nullptr, "/dev/llc2"}, {"", "/dev/llc2"}, {"/tmp/r", "/tmp/r/dev/llc2"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.root != nullptr ? c.root : "(unset)");
        RootEnv env(c.root);
        char buf[64];
        ASSERT_TRUE(rooted_path(buf, sizeof buf, "/dev/llc2"));
        EXPECT_STREQ(buf, c.expected);
        EXPECT_EQ(rooted_path("/dev/llc2"), c.expected);
        EXPECT_EQ(llc2_root(), c.root != nullptr ? c.root : "");
    }
}

TEST(RootedPath, RefusesWhatDoesNotFitLeavingItEmpty)
{
    RootEnv env("/tmp/r");
    // "/tmp/r/dev/llc2" is 15 characters: 16 bytes fit it exactly, 15 do not.
    char buf[16];
    EXPECT_TRUE(rooted_path(buf, 16, "/dev/llc2"));
    EXPECT_STREQ(buf, "/tmp/r/dev/llc2");
    buf[14] = 'x';
    EXPECT_FALSE(rooted_path(buf, 15, "/dev/llc2"));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(rooted_path(buf, 0, "/dev/llc2"));
}

} // namespace
