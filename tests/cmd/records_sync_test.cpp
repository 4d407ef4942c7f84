// SPDX-License-Identifier: Apache-2.0
// llc2's run-state records live in volatile memory: written under a fresh
// root, with the directories they need, they sync nothing at all.
#include "applied.h"
#include "fsync_count.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

namespace
{

TEST(RecordsSync, RunStateNeverSynced)
{
    std::string root = "/tmp/llc2durable.XXXXXX";
    ASSERT_NE(mkdtemp(root.data()), nullptr);
    ASSERT_EQ(setenv("LLC2_ROOT", root.c_str(), 1), 0);
    llc2test::reset_fsyncs();
    ppa_info now{};
    EXPECT_EQ(record_link(3, {"xnic", 3, 7}), 0);
    EXPECT_EQ(record_params(3, ctl_init{}, &now), 0);
    EXPECT_EQ(records_writable(), 0);
    EXPECT_EQ(record_params(4, ctl_init{}, nullptr), 0);
    EXPECT_EQ(std::tuple(llc2test::synced_files, llc2test::synced_dirs), std::tuple(0, 0));
    unsetenv("LLC2_ROOT");
    std::filesystem::remove_all(root);
}

} // namespace
