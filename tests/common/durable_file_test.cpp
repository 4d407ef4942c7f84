// SPDX-License-Identifier: Apache-2.0
// Replacing a file and making its directories: atomic either way; synced
// only where it must outlast a crash (llc2's run-state records, which never
// are, in tests/cmd/records_sync_test.cpp).
#include "durable_file.h"
#include "fsync_count.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

namespace
{

using llc2test::synced_dirs;
using llc2test::synced_files;

TEST(ReplaceFile, AtomicAlwaysSyncedOnlyWhenLasting)
{
    const struct {
        durability how;
        int files, dirs; // fsyncs of the new file and of its directory
    } cases[] = {{durability::lasting, 1, 1}, {durability::volatile_state, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.files);
        std::string dir = "/tmp/llc2durable.XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        const std::string file = dir + "/rec";
        std::ofstream(file) << "old\n";
        struct stat before {
        };
        struct stat after {
        };
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        llc2test::reset_fsyncs();
        EXPECT_EQ(replace_file(dir + "/", "rec", "new\n", 0640, c.how), 0);
        EXPECT_EQ(std::tuple(synced_files, synced_dirs), std::tuple(c.files, c.dirs));
        // Renamed into place, never written through; no temporary file left.
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        std::ostringstream text;
        text << std::ifstream(file).rdbuf();
        EXPECT_EQ(std::tuple(after.st_ino != before.st_ino, after.st_mode & 07777, text.str()),
                  std::tuple(true, 0640u, "new\n"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
        std::filesystem::remove_all(dir);
    }
}

// What is made under a fresh root where nothing of the path is there yet:
// each directory made syncs its parent only when lasting.
TEST(ReplaceFile, DirectoriesSyncedOnlyWhenLasting)
{
    std::string failed;
    const struct {
        const char *what;
        std::function<bool(const std::string &root)> make;
        int files, dirs;
    } cases[] = {
        {"make_dirs lasting",
         [&](const std::string &root) { return make_dirs(root + "/a/b/", nullptr, failed) == 0; },
         0, 2},
        {"make_dirs volatile",
         [&](const std::string &root) {
             return make_dirs(root + "/a/b/", nullptr, failed, durability::volatile_state) == 0;
         },
         0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string root = "/tmp/llc2durable.XXXXXX";
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        ASSERT_EQ(setenv("LLC2_ROOT", root.c_str(), 1), 0);
        llc2test::reset_fsyncs();
        EXPECT_TRUE(c.make(root));
        EXPECT_EQ(std::tuple(synced_files, synced_dirs), std::tuple(c.files, c.dirs));
        unsetenv("LLC2_ROOT");
        std::filesystem::remove_all(root);
    }
}

} // namespace
