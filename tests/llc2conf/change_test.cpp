// SPDX-License-Identifier: Apache-2.0
// llc2conf create, set and delete as configuration management runs them:
// again and again, expecting nothing to be touched when nothing changes, and
// dry runs that show the very change a real run then makes.
#include "run.h"

#include "llc2_conf.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

namespace
{

using conftool::run;
using conftool::with_line;
using llc2test::conf_text;
using llc2test::SimRoot;
namespace fs = std::filesystem;

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string conf_path(const SimRoot &r, int ppa)
{
    return r.path("etc/llc2/default/llc2." + std::to_string(ppa));
}

// Every entry of the configuration directory: name, inode, mtime and bytes
// (a link's target instead of bytes).
std::map<std::string, std::string> snapshot(const SimRoot &r)
{
    std::map<std::string, std::string> out;
    for (const auto &entry : fs::directory_iterator(r.path("etc/llc2/default"))) {
        if (entry.path().filename() == conftool::lock_file)
            continue;
        struct stat st {
        };
        lstat(entry.path().c_str(), &st);
        const std::string stamp = std::to_string(st.st_ino) + " " +
                                  std::to_string(st.st_mtim.tv_sec) + "." +
                                  std::to_string(st.st_mtim.tv_nsec) + "\n";
        out[entry.path().filename()] =
            stamp + (S_ISLNK(st.st_mode) ? fs::read_symlink(entry.path()).string()
                                         : slurp(entry.path().string()));
    }
    return out;
}

struct values {
    std::string device;
    int instance = -1;
    std::array<int, CONF_NPARAMS> params{};
};

values read_back(const SimRoot &r, int ppa)
{
    values v;
    std::FILE *fp = std::fopen(conf_path(r, ppa).c_str(), "r");
    if (fp == nullptr) {
        ADD_FAILURE() << "no file for PPA " << ppa;
        return v;
    }
    std::array<char, LLC2_DEVNAME_SIZE> device{};
    EXPECT_EQ(read_conf_file(fp, device.data(), &v.instance, v.params.data()), 0);
    std::fclose(fp);
    v.device = device.data();
    return v;
}

std::string words(const std::vector<std::string> &args)
{
    std::string out;
    for (const std::string &a : args)
        out += a + " ";
    return out;
}

TEST(Change, NothingChangedNothingTouched)
{
    // Each row starts from PPA 1 as "create 1 xnic1 acktimer=5" leaves it.
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"create", "1", "xnic1", "acktimer=5"}, "PPA 1: unchanged\n"},
        {{"create", "-f", "1", "xnic1", "acktimer=5"}, "PPA 1: unchanged\n"},
        {{"create", "-n", "1", "xnic1", "acktimer=5"}, "PPA 1: unchanged\n"},
        {{"set", "1", "acktimer=5"}, "PPA 1: unchanged\n"},
        {{"set", "1", "link=xnic1", "llc2_on=1", "maxretry=0"}, "PPA 1: unchanged\n"},
        {{"set", "--dry-run", "1", "acktimer=5"}, "PPA 1: unchanged\n"},
        {{"delete", "4"}, "PPA 4: absent\n"},
        {{"delete", "-n", "4"}, "PPA 4: absent\n"},
    };
    SimRoot r;
    r.write_file("dev/xnic", "");
    ASSERT_EQ(run(r, {"create", "1", "xnic1", "acktimer=5"}).out, "PPA 1: created\n");
    // Built at another time: the time is no setting.
    r.write_conf(1,
                 std::regex_replace(slurp(conf_path(r, 1)), std::regex("Built: .*"), "Built: x"));
    const auto before = snapshot(r);
    for (const Case &c : cases) {
        SCOPED_TRACE(words(c.args));
        const llc2test::Run result = run(r, c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(snapshot(r), before);
    }
}

TEST(Change, AHandWrittenFileIsReplacedOnceThenLeftAlone)
{
    SimRoot r;
    // The values create would write, in a layout of the administrator's own.
    std::string text = conf_text("xnic", 1);
    for (const char *kw :
         {"acktimer=2", "rsptimer=2", "polltimer=4", "rejecttimer=6", "rembusytimer=8",
          "inacttimer=30", "maxretry=6", "xmitwindowsz=14", "rcvwindowsz=14"}) {
        const std::string word = kw;
        text = with_line(text, word, word.substr(0, word.find('=')) + "=0");
    }
    r.write_conf(1, text);
    for (const char *expected : {"PPA 1: replaced\n", "PPA 1: unchanged\n"}) {
        const llc2test::Run result = run(r, {"create", "-f", "1", "xnic1"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected);
    }
}

TEST(Change, SetChangesWhatItNamesAndKeepsTheRest)
{
    struct Case {
        std::vector<std::string> settings;
        std::string device;
        int instance;
        std::array<int, CONF_NPARAMS> params;
    };
    // From conf_text("xnic", 3, 0): 0 0 0 2 2 4 6 8 30 6 14 14.
    const Case cases[] = {
        {{"acktimer=9"}, "xnic", 3, {0, 0, 0, 9, 2, 4, 6, 8, 30, 6, 14, 14}},
        {{"llc2_on=1", "rcvwindowsz=65535", "timeinterval=0"},
         "xnic",
         3,
         {1, 0, 0, 2, 2, 4, 6, 8, 30, 6, 14, 65535}},
        {{"link=net_a12"}, "net_a", 12, {0, 0, 0, 2, 2, 4, 6, 8, 30, 6, 14, 14}},
        {{"deviceloopback=1", "link=ynic0"}, "ynic", 0, {0, 1, 0, 2, 2, 4, 6, 8, 30, 6, 14, 14}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(words(c.settings));
        SimRoot r;
        r.write_file("dev/xnic", "");
        // Values written as llc2 reads them, not as create writes them.
        r.write_conf(3, with_line(conf_text("xnic", 3, 0), "acktimer=2", "  acktimer = 2x"));
        std::vector<std::string> args{"set", "3"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        const llc2test::Run result = run(r, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "PPA 3: replaced\n");
        EXPECT_EQ(result.err, "");
        const values v = read_back(r, 3);
        EXPECT_EQ(v.device, c.device);
        EXPECT_EQ(v.instance, c.instance);
        EXPECT_EQ(v.params, c.params);
    }
}

TEST(Change, RefusalsTouchNothing)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.write_conf(2, with_line(conf_text("xnic", 2), "maxretry=6", "maxretry=-6"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err; // the usage follows for status 2
    };
    const std::string whole = ": a whole number from 0 up is expected\n";
    const Case cases[] = {
        {{"set", "1", "acktimr=5"}, 1, "Unknown keyword: acktimr\n"},
        {{"set", "1", "devicename=ynic"}, 1, "Unknown keyword: devicename\n"},
        {{"set", "1", "acktimer=1.5"}, 1, "Invalid value for acktimer: 1.5" + whole},
        {{"set", "1", "acktimer=70000"},
         1,
         "Value for acktimer too large: 70000: the driver receives at most 65535\n"},
        {{"set", "1", "link=../x0"}, 1, "Invalid link name: ../x0\n"},
        {{"set", "1", "link=xnic2", "link=xnic3"}, 1, "Keyword link given twice\n"},
        {{"set", "-n", "4", "acktimer=5"}, 1, "no configuration for PPA 4; use create\n"},
        {{"set", "2", "acktimer=5"}, 1, "llc2.2:13: invalid line: maxretry=-6\n"},
        {{"create", "-n", "1", "xnic1", "acktimer=5"},
         1,
         conf_path(r, 1) + " exists; give -f to replace it\n"},
        {{"set", "1"}, 2, ""},
        {{"set", "-f", "1", "acktimer=5"}, 2, "Unknown option: -f\n"},
        {{"delete"}, 2, ""},
        {{"delete", "1", "2"}, 2, ""},
        {{"delete", "one"}, 2, "Invalid PPA number: one\n"},
        {{"set", "256", "acktimer=5"}, 2, "Invalid PPA number: 256\n"},
        {{"set", "-1", "acktimer=5"}, 2, "Invalid PPA number: -1\n"},
        {{"set", "1", "acktimer=5", "-n"}, 2, "Options go before the PPA: -n\n"},
        {{"set", "1", "--dry-run", "acktimer=5"}, 2, "Options go before the PPA: --dry-run\n"},
        {{"create", "1", "xnic1", "-f"}, 2, "Options go before the PPA: -f\n"},
        {{"delete", "1", "-n"}, 2, "Options go before the PPA: -n\n"},
        {{"set", "--", "1", "acktimer=5", "-n"}, 2, "Options go before the PPA: -n\n"},
    };
    const auto before = snapshot(r);
    for (const Case &c : cases) {
        SCOPED_TRACE(words(c.args));
        const llc2test::Run result = run(r, c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.status == 2 ? c.err + conftool::usage() : c.err);
        EXPECT_EQ(snapshot(r), before);
    }
}

TEST(Change, DeleteRemovesTheNameNeverATarget)
{
    SimRoot r;
    r.write_conf(1, conf_text("xnic", 1));
    r.write_file("kept", conf_text("xnic", 2));
    fs::create_symlink(r.path("kept"), conf_path(r, 2));
    fs::create_symlink("nowhere", conf_path(r, 3));
    for (const int ppa : {1, 2, 3}) {
        SCOPED_TRACE(ppa);
        const llc2test::Run result = run(r, {"delete", std::to_string(ppa)});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "PPA " + std::to_string(ppa) + ": deleted\n");
        EXPECT_EQ(result.err, "");
    }
    EXPECT_TRUE(conftool::conf_entries(r).empty());
    EXPECT_EQ(slurp(r.path("kept")), conf_text("xnic", 2));
}

// What diff -u says of the change from the old bytes (none: no file) to the
// file now.
std::string diff_u(const SimRoot &r, const std::optional<std::string> &old, int ppa)
{
    const std::string path = conf_path(r, ppa);
    const std::string a = r.path("a");
    const std::string b = r.path("b");
    std::ofstream(a, std::ios::binary) << old.value_or("");
    std::ofstream(b, std::ios::binary) << (fs::exists(path) ? slurp(path) : "");
    const llc2test::Run d = llc2test::run_program(
        {"/bin/sh", "-c", "exec diff -u --label \"$0\" --label \"$1\" \"$2\" \"$3\"",
         old ? path : "/dev/null", fs::exists(path) ? path : "/dev/null", a, b},
        {"PATH=/usr/bin:/bin", "LC_ALL=C"}, 30);
    fs::remove(a);
    fs::remove(b);
    return d.out;
}

std::string without_time(std::string text)
{
    constexpr std::string_view built = "# Built: ";
    for (std::size_t at = text.find(built); at != std::string::npos;
         at = text.find(built, at + built.size()))
        text.erase(at + built.size(), text.find('\n', at) - at - built.size());
    return text;
}

TEST(Change, ADryRunWritesNothingAndShowsWhatTheRunDoes)
{
    struct Case {
        std::string name;
        std::string file; // PPA 1's file to start with; empty for none
        std::vector<std::string> args;
        std::string status;
    };
    const std::string generated = "generated";
    const Case cases[] = {
        {"new file", "", {"create", "1", "xnic1", "maxretry=3"}, "created"},
        // Six unchanged lines apart share a hunk, seven do not.
        {"one hunk", generated, {"set", "1", "acktimer=9", "xmitwindowsz=3"}, "replaced"},
        {"two hunks", generated, {"set", "1", "acktimer=9", "rcvwindowsz=3"}, "replaced"},
        {"first and last", generated, {"set", "1", "link=xnic7", "rcvwindowsz=3"}, "replaced"},
        {"hand-written", conf_text("xnic", 1), {"set", "1", "maxretry=6"}, "replaced"},
        {"no final newline",
         "devicename=xnic\ndeviceinstance=1\nacktimer=2\nrsptimer=2\n"
         "polltimer=4\nrejecttimer=6\nrembusytimer=8\ninacttimer=30\n"
         "maxretry=6\nxmitwindowsz=14\nrcvwindowsz=14\ntimeinterval=0\n"
         "deviceloopback=0",
         {"create", "-f", "1", "xnic1"},
         "replaced"},
        {"delete", generated, {"delete", "1"}, "deleted"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_file("dev/xnic", "");
        // Built at another time than any run of the test, so that the
        // Built line changes as the settings do.
        if (c.file == generated) {
            ASSERT_EQ(run(r, {"create", "1", "xnic1", "acktimer=5"}).status, 0);
            const std::string made = slurp(conf_path(r, 1));
            fs::remove(conf_path(r, 1));
            r.write_conf(1, std::regex_replace(made, std::regex("Built: .*"),
                                               "Built: Mon Jan  1 00:00:00 2024"));
        } else if (!c.file.empty()) {
            r.write_conf(1, c.file);
        }
        const std::optional<std::string> old =
            c.file.empty() ? std::nullopt : std::optional(slurp(conf_path(r, 1)));
        const auto before = snapshot(r);
        std::vector<std::string> dry = c.args;
        dry.insert(dry.begin() + 1, "-n");
        const llc2test::Run shown = run(r, dry);
        EXPECT_EQ(shown.status, 0);
        EXPECT_EQ(shown.err, "");
        EXPECT_EQ(snapshot(r), before);

        const llc2test::Run done = run(r, c.args);
        EXPECT_EQ(done.status, 0);
        EXPECT_EQ(done.out, "PPA 1: " + c.status + "\n");
        // A new file's Built line is the time of each run's own.
        EXPECT_EQ(without_time(shown.out), without_time(diff_u(r, old, 1) + done.out));
        // patch makes the new file of the old with the dry run's diff.
        if (!old || !fs::exists(conf_path(r, 1)))
            continue;
        const std::string patched = r.path("patched");
        std::ofstream(patched, std::ios::binary) << *old;
        std::ofstream(r.path("diff"), std::ios::binary)
            << shown.out.substr(0, shown.out.rfind("PPA 1: "));
        const llc2test::Run p = llc2test::run_program(
            {"/usr/bin/patch", "-s", patched, r.path("diff")}, {"LC_ALL=C"}, 30);
        EXPECT_EQ(p.status, 0) << p.out << p.err;
        EXPECT_EQ(without_time(slurp(patched)), without_time(slurp(conf_path(r, 1))));
    }
}

TEST(Change, ADryRunOfAFileItCannotReadEndsAsTheRealRun)
{
    // What stands at PPA 1's name (made by sh from a file there), why it
    // cannot be shown, and what create -f and delete say: a status line, or
    // a failure with @ for the path. set fails to open it.
    const struct {
        std::string make, why, create, del;
    } cases[] = {
        {"rm \"$0\" && mkfifo \"$0\"", "not a regular file", "replaced", "deleted"},
        {"truncate -s 1048577 \"$0\"", "File too large", "replaced", "deleted"},
        {"rm \"$0\" && mkdir \"$0\"", "not a regular file",
         "Cannot create conf file @: Is a directory", "Cannot remove @: Is a directory"},
        {"chmod 0 \"$0\"", "Permission denied", "replaced", "deleted"},
        {"ln -sf nowhere \"$0\"", "No such file or directory", "replaced", "deleted"},
    };
    for (const auto &c : cases) {
        // Root reads whatever the mode says.
        if (c.why == "Permission denied" && geteuid() == 0)
            continue;
        const std::pair<std::vector<std::string>, std::string> writers[] = {
            {{"create", "-f", "1", "xnic3"}, c.create},
            {{"set", "1", "acktimer=3"}, "Cannot open @: " + c.why},
            {{"delete", "1"}, c.del}};
        for (const auto &[args, said] : writers) {
            SCOPED_TRACE(c.make + ": " + words(args));
            SimRoot r;
            r.write_file("dev/xnic", "");
            r.write_conf(1, conf_text("xnic", 1));
            const std::string path = conf_path(r, 1);
            const auto made = llc2test::run_program({"/bin/sh", "-c", c.make, path}, {}, 30);
            ASSERT_EQ(made.status, 0) << made.err;
            const bool ok = said.find('@') == std::string::npos;
            const std::string out = ok ? "PPA 1: " + said + "\n" : "";
            const std::string err =
                ok ? "" : std::regex_replace(said, std::regex("@"), path) + "\n";
            std::vector<std::string> dry = args;
            dry.insert(dry.begin() + 1, "-n");
            // No diff: why there is none, then the real run's status line.
            const std::string why_not = ok ? "Cannot open " + path + ": " + c.why + "\n" : err;
            EXPECT_EQ(conftool::said(run(r, dry)), std::tuple(ok ? 0 : 1, out, why_not));
            EXPECT_EQ(conftool::said(run(r, args)), std::tuple(ok ? 0 : 1, out, err));
        }
    }
}

TEST(Change, CreateAndSetWarnOfAMissingDeviceAsCheckDoes)
{
    const struct {
        std::vector<std::string> args;
        std::string out;   // its end
        std::string warns; // the file warned of, as check would: qnic is not in /dev
    } cases[] = {
        {{"create", "2", "qnic2"}, "PPA 2: created\n", "llc2.2"},
        {{"create", "2", "qnic2", "llc2_on=0"}, "PPA 2: created\n", ""},
        {{"set", "1", "link=qnic1"}, "PPA 1: replaced\n", "llc2.1"},
        {{"set", "-n", "1", "link=qnic1"}, "PPA 1: replaced\n", "llc2.1"},
        {{"set", "1", "link=qnic1", "llc2_on=0"}, "PPA 1: replaced\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(words(c.args));
        SimRoot r;
        r.write_file("dev/xnic", "");
        r.write_conf(1, conf_text("xnic", 1));
        const llc2test::Run result = run(r, c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.out.ends_with(c.out)) << result.out;
        EXPECT_EQ(result.err, c.warns.empty()
                                  ? ""
                                  : c.warns + ":10: Warning: devicename=qnic: no " +
                                        r.path("dev/qnic") + ": llc2 -p would fail to open it\n");
    }
}

TEST(Check, WarnsOfWhatLlc2ReadsOtherwise)
{
    // conf_text's lines: 1 a comment, 2 devicename ... 15 rcvwindowsz; the
    // reader has all it needs at line 15 and stops there. It examines 2047
    // characters of a line at a time and reads the rest as a line of its
    // own: check and show judge each piece as it does.
    struct Case {
        std::string name;
        std::string text;
        std::string warnings; // after "llc2.1:"
        std::string ack{};    // show's acktimer row, where it matters
    };
    const std::string base = conf_text("xnic", 1);
    const std::string blanks(2100, ' ');
    const auto cut = [](int line) {
        return std::to_string(line) +
               ": Warning: longer than 2047 characters: llc2 reads the rest as a line of its own\n";
    };
    const auto nine_from = [](int line) {
        return "acktimer              9        9  read from the rest of line " +
               std::to_string(line);
    };
    const auto long_line = [&base](const std::string &line7) {
        return with_line(base, "acktimer=2", line7);
    };
    const Case cases[] = {
        {"sound", base, ""},
        {"after the stop", base + "\n# more\nacktimer=9\n  maxretry = 1\n",
         "18: Warning: acktimer is never read: llc2 stops after line 15\n"
         "llc2.1:19: Warning: maxretry is never read: llc2 stops after line 15\n"},
        {"given twice", with_line(base, "timeinterval=0", "acktimer=7\ntimeinterval=0"),
         "6: Warning: acktimer is given again on line 8, which counts\n"},
        {"not a whole number",
         with_line(with_line(base, "acktimer=2", "acktimer=1.5"), "maxretry=6", "maxretry=6#x"),
         "7: Warning: acktimer=1.5: read as 1\nllc2.1:13: Warning: maxretry=6#x: read as 6\n"},
        {"byte-order mark", "\xef\xbb\xbf" + base,
         "1: Warning: begins with a byte-order mark, which llc2 reads as text\n"},
        {"no device node", with_line(base, "devicename=xnic", "devicename=qnic"),
         "2: Warning: devicename=qnic: no %DEV%/qnic: llc2 -p would fail to open it\n"},
        {"switched off",
         with_line(with_line(base, "devicename=xnic", "devicename=qnic"), "llc2_on=1", "llc2_on=0"),
         ""},
        {"keyword in the rest of a note", long_line("acktimer=2\nnote" + blanks + "acktimer=9"),
         "7: Warning: acktimer is given again on line 8, which counts\nllc2.1:" + cut(8),
         nine_from(8)},
        {"in the rest of its own line", long_line("acktimer=2" + blanks + "acktimer=9"),
         "7: Warning: acktimer is given again on line 7, which counts\nllc2.1:" + cut(7),
         nine_from(7)},
        {"2047 characters", long_line("acktimer=2\nnote" + std::string(2043, ' ')), ""},
        {"2048 characters", long_line("acktimer=2\nnote" + std::string(2044, ' ')), cut(8),
         "acktimer              2        2"},
        {"long comment", long_line("acktimer=2\n#" + blanks + "acktimer=9"), ""},
        {"long line after the stop", base + "note" + blanks + "acktimer=9\n",
         "16: Warning: acktimer is never read: llc2 stops after line 15\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot r;
        r.write_file("dev/xnic", "");
        r.write_conf(1, c.text);
        std::string warnings = c.warnings.empty() ? "" : "llc2.1:" + c.warnings;
        if (const std::size_t at = warnings.find("%DEV%"); at != std::string::npos)
            warnings.replace(at, 5, r.path("dev"));
        const llc2test::Run checked = run(r, {"check", "1"});
        EXPECT_EQ(checked.status, 0);
        EXPECT_EQ(checked.err, warnings);
        EXPECT_EQ(checked.out.rfind("PPA 1: ok: ", 0), 0U) << checked.out;
        const llc2test::Run shown = run(r, {"show", "1"});
        EXPECT_EQ(shown.status, 0);
        EXPECT_EQ(shown.err, warnings);
        if (!c.ack.empty()) {
            EXPECT_NE(shown.out.find("\n" + c.ack + "\n"), std::string::npos) << shown.out;
        }
    }
}

} // namespace
