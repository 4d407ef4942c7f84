// SPDX-License-Identifier: Apache-2.0
// The command line: what is a usage error, what it prints, its exit status,
// and that a rejected command line reaches neither the driver nor the
// configuration.
#include "cmd_test_util.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace
{

using cmdtest::usage_line;
using llc2test::SimRoot;

struct UsageCase {
    std::string name; // of the test case
    std::vector<std::string> args;
    std::string before_usage; // what comes ahead of the usage line on stderr
};

std::string invalid(const std::string &arg)
{
    return "Invalid PPA number: " + arg + "\n";
}

std::string getopt_says(const std::string &what, char letter)
{
    return llc2test::llc2_binary() + ": " + what + " -- '" + letter + "'\n";
}

std::vector<UsageCase> usage_cases()
{
    std::vector<UsageCase> cases = {
        // A second action, the same one repeated included.
        {"q_twice", {"-q", "-q"}, ""},
        {"P_and_U", {"-P", "-U"}, ""},
        {"p_and_u", {"-p", "1", "-u", "2"}, ""},
        {"r_twice", {"-r", "1", "-r", "1"}, ""},
        {"PU_bundled", {"-PU"}, ""},
        {"d_around_P_and_q", {"-d", "-P", "-d", "-q"}, ""},
        {"i_and_P", {"-i", "0", "-P"}, ""},
        // Nothing after the second action is looked at: no diagnostic for
        // the bad letter, no complaint about the bad number.
        {"bad_letter_after_second", {"-P", "-U", "-x"}, ""},
        {"bad_number_after_second", {"-U", "-p", "abc"}, ""},
        // getopt's own diagnostics stay, then the usage line.
        {"bad_letter", {"-x"}, getopt_says("invalid option", 'x')},
        {"bad_letter_between", {"-d", "-x", "-P"}, getopt_says("invalid option", 'x')},
        {"p_alone", {"-p"}, getopt_says("option requires an argument", 'p')},
        {"r_alone_after_d", {"-d", "-r"}, getopt_says("option requires an argument", 'r')},
        {"bad_letter_first", {"-x", "-P"}, getopt_says("invalid option", 'x')},
        // The argument of -p is whatever follows it, even an option.
        {"p_takes_an_option", {"-p", "-P"}, invalid("-P")},
        {"u_bad_then_P", {"-u", "abc", "-P"}, invalid("abc")},
        // --apply acts only on what the driver can be asked about.
        {"apply_256", {"--apply", "256"}, invalid("256")},
        {"apply_minus_1", {"--apply", "-n", "-1"}, invalid("-1")},
    };
    // Not a whole decimal number within int, for each of the four letters.
    // The last is a digit three, but not an ASCII one.
    const std::pair<const char *, const char *> bad[] = {
        {"abc", "letters"},
        {"3x", "trailing_letter"},
        {"", "empty"},
        {"+3", "plus_sign"},
        {" 3", "leading_blank"},
        {"3 ", "trailing_blank"},
        {"-", "minus_alone"},
        {"--1", "two_minuses"},
        {"1-", "trailing_minus"},
        {"0x1", "hex"},
        {"1e3", "exponent"},
        {"99999999999", "eleven_digits"},
        {"2147483648", "int_max_plus_one"},
        {"-2147483649", "int_min_minus_one"},
        {"\xd9\xa3", "arabic_three"},
    };
    for (const char *letter : {"-p", "-u", "-i", "-r"})
        for (const auto &[b, name] : bad)
            cases.push_back({std::string(letter + 1) + "_" + name, {letter, b}, invalid(b)});
    return cases;
}

std::string joined(const std::vector<std::string> &args)
{
    std::string s;
    for (const std::string &a : args)
        s += "[" + a + "]";
    return s;
}

// gtest names the failing case by its command line.
void PrintTo(const UsageCase &c, std::ostream *os)
{
    *os << joined(c.args);
}

// Each case runs on its own, so that a slow host meets no time limit for the
// lot and a failure names its command line.
struct BadLine : ::testing::TestWithParam<UsageCase> {
};

INSTANTIATE_TEST_SUITE_P(Usage, BadLine, ::testing::ValuesIn(usage_cases()),
                         [](const auto &info) { return info.param.name; });

// The usage line, exit status 2, and nothing opened or sent.
TEST_P(BadLine, ExitsTwo)
{
    SimRoot r;
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    const llc2test::Run run = r.run_llc2(GetParam().args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, GetParam().before_usage + usage_line());
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(r.log().empty()) << "the driver saw a request";
}

// Runs llc2 under strace and returns the trace of the calls that open a
// file or connect a socket; "" when strace is missing or cannot trace here.
std::string traced_opens(const SimRoot &r, const std::vector<std::string> &args)
{
    const char *strace = "/usr/bin/strace";
    if (::access(strace, X_OK) != 0)
        return "";
    const std::string trace = r.path("trace");
    std::filesystem::remove(trace);
    std::vector<std::string> argv{strace,
                                  "-f",
                                  "-qq",
                                  "-e",
                                  "trace=open,openat,connect",
                                  "-o",
                                  trace,
                                  llc2test::llc2_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    (void)llc2test::run_program(argv, {"PATH=/usr/bin:/bin", "LLC2_ROOT=" + r.root(), "LC_ALL=C"},
                                60);
    std::ifstream in(trace);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_P(BadLine, OpensNoFile)
{
    SimRoot r;
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    // The trace must see the tool's own opens, or an empty trace proves
    // nothing: -p opens the PPA's configuration file first.
    const std::string control = traced_opens(r, {"-p", "1"});
    if (control.find(r.path("etc/llc2/default/llc2.1")) == std::string::npos)
        GTEST_SKIP() << "strace is not installed or cannot trace here; output: " << control;

    const std::string t = traced_opens(r, GetParam().args);
    EXPECT_NE(t, "") << "no trace written";
    EXPECT_EQ(t.find(r.root()), std::string::npos) << t;
    EXPECT_EQ(t.find("connect("), std::string::npos) << t;
}

// Accepted command lines: -d anywhere and repeated, and operands ending the
// options. Which action ran shows in what it printed: the status table, or
// nothing for -U.
TEST(CommandLine, AnOperandIsAUsageErrorDebugGoesAnywhere)
{
    const std::string table =
        "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n";
    const std::string usage =
        "Usage: " + llc2test::llc2_binary() + " [-P|-U|-p <ppa>|-u <ppa>|-q]\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{}, 0, table, ""},
        {{"-q"}, 0, table, ""},
        {{"-d"}, 0, table, cmdtest::checking()},
        {{"-d", "-d", "-q"}, 0, table, cmdtest::checking()},
        // A word, a forgotten dash, or anything after "--" is no action:
        // the usage line alone, so nothing was opened.
        {{"P"}, 2, "", usage},
        {{"word", "-P"}, 2, "", usage},
        {{"word", "-x"}, 2, "", usage},
        {{"--", "-P"}, 2, "", usage},
        {{"-q", "1"}, 2, "", usage},
        {{"-q", "word", "-U"}, 2, "", usage},
        {{"-p", "1", "2"}, 2, "", usage},
        {{"-U", "--", "-q"}, 2, "", usage},
        // -U finds no PPA: no table, and no trace even under -d.
        {{"-U"}, 0, "", ""},
        {{"-dU", "-d"}, 0, "", ""},
        {{"-U", "--"}, 0, "", ""},
    };
    SimRoot r;
    r.start_sim();
    for (const Case &c : cases) {
        SCOPED_TRACE(joined(c.args));
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, c.out);
    }
}

// PPA 255 is the highest the driver can be asked about: --apply acts on it
// and refuses 256 as a usage error; --status and --metrics take any number
// and cannot tell past 255; the letters take any number and leave it to the
// driver (or the file) to refuse. In order: PPA 255 is plumbed on the way.
TEST(CommandLine, PpaNumbersAtTheDriversLimit)
{
    const std::string cannot_ask =
        "cannot tell (the driver cannot be asked about a PPA outside 0 to 255)";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said; // in standard output, or standard error for failures
    } rows[] = {
        {{"--apply", "-n", "255"}, 0, "PPA 255: would plumb and initialise\n"},
        {{"--apply", "256"}, 2, invalid("256")},
        {{"--apply", "-n", "-1"}, 2, invalid("-1")},
        {{"--apply", "255"}, 0, "PPA 255: plumbed and initialised\n"},
        {{"--status", "255"}, 0, "PPA 255: up\n"},
        {{"--status", "256"}, 4, "PPA 256: " + cannot_ask + "\n"},
        {{"--status", "-1"}, 4, "PPA -1: " + cannot_ask + "\n"},
        {{"--metrics", "255"}, 0, "llc2_ppa_up{ppa=\"255\",device=\"xnic1\"} 1\n"},
        {{"--metrics", "256"}, 0, "llc2_ppa_state{ppa=\"256\",state=\"unknown\"} 1\n"},
        {{"-i", "255"}, 0, ""},
        {{"-r", "256"}, 0, ""},
        {{"-p", "256"}, 255, "Cannot open configuration files for PPA 256\n"},
    };
    SimRoot r;
    r.write_conf(255, llc2test::conf_text("xnic", 1));
    r.start_sim();
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const llc2test::Run run = r.run_llc2(row.args);
        EXPECT_EQ(run.status, row.status) << run.err;
        EXPECT_NE((row.status == 0 || row.status == 4 ? run.out : run.err).find(row.said),
                  std::string::npos)
            << run.out << run.err;
    }
}

TEST(CommandLine, UsageLineNamesTheCommandAsInvoked)
{
    SimRoot r;
    const std::string link = r.path("sbin-llc2");
    std::filesystem::create_symlink(llc2test::llc2_binary(), link);
    const llc2test::Run run =
        llc2test::run_program({link, "-q", "-q"}, {"LLC2_ROOT=" + r.root(), "LC_ALL=C"}, 60);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Usage: " + link + " [-P|-U|-p <ppa>|-u <ppa>|-q]\n");
}

} // namespace
