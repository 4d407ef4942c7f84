// Replacing a file: atomic either way; synced only where it must outlast a
// crash.
#include "durable_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace
{

// What fsync was asked to sync since the last reset: files and directories.
int synced_files = 0;
int synced_dirs = 0;

std::string slurp(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

// Every fsync of the program, the library's included (-Wl,--wrap=fsync).
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) == 0)
        ++(S_ISDIR(st.st_mode) ? synced_dirs : synced_files);
    return __real_fsync(fd);
}

TEST(ReplaceFile, AtomicAlwaysSyncedOnlyWhenLasting)
{
    const struct {
        durability how;
        int files; // fsyncs of the new file
        int dirs;  // and of its directory
    } cases[] = {
        {durability::lasting, 1, 1},
        {durability::volatile_state, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how == durability::lasting ? "lasting" : "volatile_state");
        std::string tmpl = "/tmp/llc2durable.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        const std::filesystem::path dir = tmpl;
        std::ofstream(dir / "rec") << "old\n";
        struct stat before {
        };
        ASSERT_EQ(stat((dir / "rec").c_str(), &before), 0);

        synced_files = synced_dirs = 0;
        EXPECT_EQ(replace_file(tmpl + "/", "rec", "new\n", 0640, c.how), 0);
        EXPECT_EQ(std::tuple(synced_files, synced_dirs), std::tuple(c.files, c.dirs));

        // Renamed into place, never written through: a reader of the old
        // file keeps it whole, and no temporary file is left.
        struct stat after {
        };
        ASSERT_EQ(stat((dir / "rec").c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        EXPECT_EQ(slurp(dir / "rec"), "new\n");
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"rec"});
        std::filesystem::remove_all(dir);
    }
}
