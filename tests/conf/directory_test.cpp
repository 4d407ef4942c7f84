// SPDX-License-Identifier: Apache-2.0
#include "helpers.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using namespace conf_test;

namespace
{

std::string valid_conf(const std::string &device, int instance)
{
    return "devicename=" + device + "\ndeviceinstance=" + std::to_string(instance) +
           "\ndeviceloopback=0\ntimeinterval=0\nacktimer=2\nrsptimer=2\npolltimer=4\n"
           "rejecttimer=6\nrembusytimer=8\ninacttimer=30\nmaxretry=6\nxmitwindowsz=14\n"
           "rcvwindowsz=14\n";
}

std::vector<int> list_ppas()
{
    std::vector<int> out;
    for (const conf_entry *node = conf_head; node != nullptr; node = node->next)
        out.push_back(node->ppa);
    return out;
}

std::string strerror_of(int err)
{
    return std::strerror(err);
}

class ConfDirectory : public temp_root
{
  protected:
    void make_file(const std::string &name, const std::string &bytes = "")
    {
        write_file(dir / name, bytes.empty() ? valid_conf("xnic", 0) : bytes);
    }
    void make_symlink(const std::string &name, const std::string &target)
    {
        std::filesystem::create_directory_symlink(target, dir / name);
    }
    void clear_dir()
    {
        free_list();
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            std::filesystem::remove_all(entry.path());
    }
    int scan(std::string &err, int level = 0)
    {
        debug_level guard(level);
        int rc = 0;
        err = capture_stderr([&] { rc = add_conf(); });
        return rc;
    }
};

} // namespace

TEST_F(ConfDirectory, EntryNames)
{
    const std::string no_such = strerror_of(ENOENT);
    const struct {
        std::vector<std::string> files;
        int rc;
        std::vector<int> ppas; // sorted
        std::string err;
    } cases[] = {
        {{"llc2.0"}, 0, {0}, ""},
        {{"llc2.12"}, 0, {12}, ""},
        {{"llc2.-1"}, 0, {-1}, ""},
        {{"llc2.2147483647"}, 0, {INT_MAX}, ""},
        {{"llc2.-2147483648"}, 0, {INT_MIN}, ""},
        // Only the name the path rule builds: a renamed or backed-up file
        // beside it is nobody's, and without it nothing is opened.
        {{"llc2.3", "llc2.03", "llc2.3.bak", "llc2.3~", "llc2.3.orig", "llc2.3.disabled"},
         0,
         {3},
         ""},
        {{"llc2.03", "llc2.3.bak", "llc2.5~", "llc2.5.disabled", "llc2.+7", "llc2. 8", "llc2.-0"},
         0,
         {},
         ""},
        {{"llc2", "llc2.", "llc2.x", "llc20", "LLC2.1", "llc2.-", "llc2.+", "llc2.+-1", "llc2._1",
          "llc2.2147483648", "llc2.-2147483649", "llc2.99999999999999999999", "xllc2.1", "llc2,1"},
         0,
         {},
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.files.front());
        clear_dir();
        for (const std::string &name : c.files)
            make_file(name);
        std::string err;
        EXPECT_EQ(scan(err), c.rc);
        std::vector<int> ppas = list_ppas();
        std::sort(ppas.begin(), ppas.end());
        EXPECT_EQ(ppas, c.ppas);
        EXPECT_EQ(err, c.err);
    }
}

// The kinds every caller of the walk relies on, and a directory that is not
// there told apart from one that cannot be read.
TEST_F(ConfDirectory, WalkSortsEntriesByTheNameRule)
{
    for (const char *name : {"llc2.3", "llc2.-1", "llc2.03", "llc2.5~", ".llc2.6.AbCdEf",
                             ".llc2conf.lock", "llc20", "LLC2.1", "notes"})
        make_file(name);
    std::vector<std::tuple<std::string, conf_dir_kind, int>> seen;
    EXPECT_EQ(walk_conf_dir(
                  [&seen](const conf_dir_entry &e) { seen.emplace_back(e.name, e.kind, e.ppa); }),
              conf_walk_result::walked);
    std::sort(seen.begin(), seen.end());
    const decltype(seen) expected = {{".llc2.6.AbCdEf", conf_dir_kind::temporary, 0},
                                     {"llc2.-1", conf_dir_kind::ppa_file, -1},
                                     {"llc2.03", conf_dir_kind::stray, 0},
                                     {"llc2.3", conf_dir_kind::ppa_file, 3},
                                     {"llc2.5~", conf_dir_kind::stray, 0}};
    EXPECT_EQ(seen, expected);

    std::filesystem::remove_all(dir);
    EXPECT_EQ(walk_conf_dir([](const conf_dir_entry &) { FAIL(); }), conf_walk_result::not_opened);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ConfDirectory, ListRunsInReverseOfTheScan)
{
    for (const char *name : {"llc2.0", "llc2.1", "llc2.2", "llc2.10", "README"})
        make_file(name);
    // The order the directory hands out its entries.
    std::vector<int> expected;
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (const dirent *e = readdir(d)) {
        if (std::strncmp(e->d_name, "llc2.", 5) == 0)
            expected.insert(expected.begin(), std::atoi(e->d_name + 5));
    }
    closedir(d);

    std::string err;
    EXPECT_EQ(scan(err), 0);
    EXPECT_EQ(list_ppas(), expected);
    // Every stream is open, at its start, on the right file.
    for (const conf_entry *node = conf_head; node != nullptr; node = node->next) {
        ASSERT_NE(node->fp, nullptr);
        EXPECT_EQ(std::ftell(node->fp), 0);
    }
}

TEST_F(ConfDirectory, ScanAddsInFrontOfAnExistingList)
{
    auto *old = new conf_entry{99, std::tmpfile(), nullptr};
    conf_head = old;
    make_file("llc2.4");
    std::string err;
    EXPECT_EQ(scan(err), 0);
    EXPECT_EQ(list_ppas(), (std::vector<int>{4, 99}));
}

TEST_F(ConfDirectory, EmptyDirectory)
{
    std::string err;
    EXPECT_EQ(scan(err, 1), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(conf_head, nullptr);
    EXPECT_EQ(capture_stdout([] { print_conf_entry(); }), "");
}

TEST_F(ConfDirectory, MissingDirectory)
{
    std::filesystem::remove_all(dir);
    auto *old = new conf_entry{1, std::tmpfile(), nullptr};
    conf_head = old;
    std::string err;
    errno = 0;
    EXPECT_EQ(scan(err), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(err, "Cannot open default directory: " + strerror_of(ENOENT) + "\n");
    EXPECT_EQ(conf_head, old);
    EXPECT_EQ(old->next, nullptr);
}

TEST_F(ConfDirectory, DirectoryThatIsAFile)
{
    std::filesystem::remove_all(dir);
    write_file(dir, "not a directory");
    std::string err;
    EXPECT_EQ(scan(err), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(err, "Cannot open default directory: " + strerror_of(ENOTDIR) + "\n");
}

// Root runs the tests too, so files are made unopenable by what they are,
// not by their mode.
TEST_F(ConfDirectory, UnopenableFileFailsTheScanNotTheOthers)
{
    make_file("llc2.0");
    make_file("llc2.1");
    make_symlink("llc2.5", "llc2.5"); // a loop: ELOOP
    make_file("llc2.7");
    std::string err;
    errno = 0;
    EXPECT_EQ(scan(err), -1);
    // Whatever order the scan met them in, the failed open's errno is what
    // is left, not a later success's.
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(err, "Cannot open " + path_of("llc2.5") + ": " + strerror_of(ELOOP) + "\n");
    std::vector<int> ppas = list_ppas();
    std::sort(ppas.begin(), ppas.end());
    EXPECT_EQ(ppas, (std::vector<int>{0, 1, 7}));
}

TEST_F(ConfDirectory, FailureTraceUnderDebug)
{
    make_symlink("llc2.6", "nowhere");
    std::string err;
    EXPECT_EQ(scan(err, 1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(err, "Cannot open " + path_of("llc2.6") + ": " + strerror_of(ENOENT) +
                       "\nreaddir() error: " + strerror_of(ENOENT) + "\n");
}

TEST_F(ConfDirectory, SuccessLeavesErrnoClear)
{
    make_file("llc2.0");
    errno = EINVAL;
    std::string err;
    EXPECT_EQ(scan(err), 0);
    EXPECT_EQ(errno, 0);
}

TEST_F(ConfDirectory, OpenConf)
{
    make_file("llc2.-3", "hello\n");
    file_ptr fp(open_conf(-3));
    ASSERT_TRUE(fp);
    char buf[16] = {};
    EXPECT_NE(std::fgets(buf, sizeof buf, fp.get()), nullptr);
    EXPECT_STREQ(buf, "hello\n");

    std::FILE *none = nullptr;
    errno = 0;
    const std::string err = capture_stderr([&] { none = open_conf(42); });
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(err, "Cannot open " + path_of("llc2.42") + ": " + strerror_of(ENOENT) + "\n");
}

TEST_F(ConfDirectory, OnlyRegularFilesAreRead)
{
    // Read, /dev/zero would feed the parser for ever. A FIFO, which would
    // block, is run in a child process with a time limit (llc2conf's tests).
    make_file("real");
    std::filesystem::create_symlink("real", dir / "llc2.1");
    std::filesystem::create_symlink("/dev/zero", dir / "llc2.2");
    std::filesystem::create_directory(dir / "llc2.3");
    const struct {
        int ppa;
        int err; // 0: opened
    } cases[] = {{1, 0}, {2, EINVAL}, {3, EISDIR}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ppa);
        std::FILE *fp = nullptr;
        errno = 0;
        const std::string err = capture_stderr([&] { fp = open_conf(c.ppa); });
        const file_ptr owned(fp);
        EXPECT_EQ(fp != nullptr, c.err == 0);
        EXPECT_EQ(errno, c.err);
        EXPECT_EQ(err, c.err == 0 ? ""
                                  : "Cannot open " + path_of("llc2." + std::to_string(c.ppa)) +
                                        ": not a regular file\n");
    }
    std::string err;
    EXPECT_EQ(scan(err), -1);
    EXPECT_EQ(list_ppas(), std::vector<int>{1});
}

TEST_F(ConfDirectory, RootTooLongForThePathBuffer)
{
    const std::string dir = "/etc/llc2/default/";
    // Too long for the directory; and long enough that the directory fits
    // but not the file's name in it, in short components, so that only the
    // check, not the kernel, can say the path is too long.
    std::string fits_dir_only = "/tmp";
    while (fits_dir_only.size() + dir.size() + 2 < static_cast<std::size_t>(LLC2_PATH_SIZE))
        fits_dir_only += "/r";
    for (const std::string &long_root :
         {"/tmp/" + std::string(LLC2_PATH_SIZE, 'r'), fits_dir_only}) {
        SCOPED_TRACE(long_root.size());
        setenv("LLC2_ROOT", long_root.c_str(), 1);
        std::FILE *fp = nullptr;
        const std::string err = capture_stderr([&] { fp = open_conf(1); });
        EXPECT_EQ(fp, nullptr);
        EXPECT_EQ(errno, ENAMETOOLONG);
        // As much of the path as the buffer holds.
        const std::string shown = (long_root + dir + "llc2.1").substr(0, LLC2_PATH_SIZE - 1);
        EXPECT_EQ(err, "Cannot open " + shown + ": " + strerror_of(ENAMETOOLONG) + "\n");
    }
    setenv("LLC2_ROOT", ("/tmp/" + std::string(LLC2_PATH_SIZE, 'r')).c_str(), 1);
    std::string scan_err;
    EXPECT_EQ(scan(scan_err), -1);
    EXPECT_EQ(scan_err, "Cannot open default directory: " + strerror_of(ENAMETOOLONG) + "\n");
}

TEST_F(ConfDirectory, PrintListsEveryNodeInListOrder)
{
    make_file("llc2.0", valid_conf("xnic", 0));
    make_file("llc2.2", valid_conf("enet", 5));
    // Build the list by hand so the order is known: 2 first.
    conf_head = new conf_entry{0, open_conf(0), nullptr};
    conf_head = new conf_entry{2, open_conf(2), conf_head};
    // A reader that left a stream in the middle does not disturb the listing.
    std::fgetc(conf_head->fp);

    std::string out;
    const std::string err =
        capture_stderr([&] { out = capture_stdout([] { print_conf_entry(); }); });
    EXPECT_EQ(out, "Device: enet, instance: 5, PPA 2\nDevice: xnic, instance: 0, PPA 0\n");
    EXPECT_EQ(err, "");
    // Twice gives the same: the streams stay usable.
    EXPECT_EQ(capture_stdout([] { print_conf_entry(); }), out);
}

TEST_F(ConfDirectory, PrintStopsAtAFileThatDoesNotParse)
{
    make_file("llc2.0", valid_conf("xnic", 0));
    make_file("llc2.1", "devicename=xnic\n");
    const struct {
        std::vector<int> order; // head first
        std::string out;
    } cases[] = {
        {{1, 0}, ""},
        {{0, 1}, "Device: xnic, instance: 0, PPA 0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.order.front());
        free_list();
        for (auto it = c.order.rbegin(); it != c.order.rend(); ++it)
            conf_head = new conf_entry{*it, open_conf(*it), conf_head};
        std::string out;
        const std::string err =
            capture_stderr([&] { out = capture_stdout([] { print_conf_entry(); }); });
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, "Error in file\n");
    }
}
