// The command line: what is a usage error, what it prints, its exit status,
// and that a rejected command line reaches neither the driver nor the
// configuration.
#include "cmd_test_util.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace
{

using cmdtest::usage_line;
using llc2test::SimRoot;

struct UsageCase {
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
        {{"-q", "-q"}, ""},
        {{"-P", "-U"}, ""},
        {{"-p", "1", "-u", "2"}, ""},
        {{"-r", "1", "-r", "1"}, ""},
        {{"-PU"}, ""},
        {{"-d", "-P", "-d", "-q"}, ""},
        {{"-i", "0", "-P"}, ""},
        // Nothing after the second action is looked at: no diagnostic for
        // the bad letter, no complaint about the bad number.
        {{"-P", "-U", "-x"}, ""},
        {{"-U", "-p", "abc"}, ""},
        // getopt's own diagnostics stay, then the usage line.
        {{"-x"}, getopt_says("invalid option", 'x')},
        {{"-d", "-x", "-P"}, getopt_says("invalid option", 'x')},
        {{"-p"}, getopt_says("option requires an argument", 'p')},
        {{"-d", "-r"}, getopt_says("option requires an argument", 'r')},
        {{"-x", "-P"}, getopt_says("invalid option", 'x')},
        // The argument of -p is whatever follows it, even an option.
        {{"-p", "-P"}, invalid("-P")},
        {{"-u", "abc", "-P"}, invalid("abc")},
    };
    // Not a whole decimal number within int, for each of the four letters.
    // The last is a digit three, but not an ASCII one.
    const char *bad[] = {"abc", "3x",          "",           "+3",          " 3",
                         "3 ",  "-",           "--1",        "1-",          "0x1",
                         "1e3", "99999999999", "2147483648", "-2147483649", "\xd9\xa3"};
    for (const char *letter : {"-p", "-u", "-i", "-r"})
        for (const char *b : bad)
            cases.push_back({{letter, b}, invalid(b)});
    return cases;
}

std::string joined(const std::vector<std::string> &args)
{
    std::string s;
    for (const std::string &a : args)
        s += "[" + a + "]";
    return s;
}

TEST(CommandLine, UsageErrorsEndWithStatusTwoAndTouchNothing)
{
    SimRoot r;
    r.write_conf(0, llc2test::conf_text("xnic", 0));
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    for (const UsageCase &c : usage_cases()) {
        SCOPED_TRACE(joined(c.args));
        const llc2test::Run run = r.run_llc2(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, c.before_usage + usage_line());
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(r.log().empty()) << "the driver saw a request";
    }
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

TEST(CommandLine, UsageErrorsOpenNoFileOfTheRoot)
{
    SimRoot r;
    r.write_conf(1, llc2test::conf_text("xnic", 1));
    r.start_sim();
    // The trace must see the tool's own opens, or an empty trace proves
    // nothing: -p opens the PPA's configuration file first.
    const std::string control = traced_opens(r, {"-p", "1"});
    if (control.find(r.path("etc/llc2/default/llc2.1")) == std::string::npos)
        GTEST_SKIP() << "strace is not installed or cannot trace here; output: " << control;

    for (const UsageCase &c : usage_cases()) {
        SCOPED_TRACE(joined(c.args));
        const std::string t = traced_opens(r, c.args);
        EXPECT_NE(t, "") << "no trace written";
        EXPECT_EQ(t.find(r.root()), std::string::npos) << t;
        EXPECT_EQ(t.find("connect("), std::string::npos) << t;
    }
}

// Accepted command lines: -d anywhere and repeated, and operands ending the
// options. Which action ran shows in what it printed: the status table, or
// nothing for -U.
TEST(CommandLine, ParsingStopsAtTheFirstOperandAndDebugGoesAnywhere)
{
    const std::string table =
        "PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device\n";
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
        {{"word", "-P"}, 0, table, ""},
        {{"word", "-x"}, 0, table, ""},
        {{"--", "-P"}, 0, table, ""},
        {{"-q", "word", "-U"}, 0, table, ""},
        // -U finds no PPA: no table, and no trace even under -d.
        {{"-U"}, 0, "", ""},
        {{"-dU", "-d"}, 0, "", ""},
        {{"-U", "--", "-q"}, 0, "", ""},
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
