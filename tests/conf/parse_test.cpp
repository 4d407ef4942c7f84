// SPDX-License-Identifier: Apache-2.0
#include "helpers.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

using namespace conf_test;

namespace
{

constexpr int unset = -77;

struct parsed {
    int rc = 0;
    std::string name;
    int instance = unset;
    std::array<int, CONF_NPARAMS> params{};
    std::string err;
};

parsed parse_stream(std::FILE *fp, int level = 0)
{
    parsed p;
    std::array<char, LLC2_DEVNAME_SIZE> name{'u', 'n', 's', 'e', 't'};
    p.params.fill(unset);
    debug_level guard(level);
    p.err = capture_stderr(
        [&] { p.rc = read_conf_file(fp, name.data(), &p.instance, p.params.data()); });
    p.name = name.data();
    return p;
}

parsed parse(const std::string &bytes, int level = 0)
{
    file_ptr fp = stream_of(bytes);
    return parse_stream(fp.get(), level);
}

// One line per keyword, in table order, with values that tell them apart:
// conf_params[i] gets 100 + i, except llc2_on, which is 0 here so that its
// default (1) is never mistaken for a parsed value.
struct keyword_line {
    const char *keyword;
    std::string line;
};

std::vector<keyword_line> keyword_lines()
{
    return {
        {"devicename", "devicename=xnic\n"},
        {"deviceinstance", "deviceinstance=3\n"},
        {"llc2_on", "llc2_on=0\n"},
        {"deviceloopback", "deviceloopback=101\n"},
        {"timeinterval", "timeinterval=102\n"},
        {"acktimer", "acktimer=103\n"},
        {"rsptimer", "rsptimer=104\n"},
        {"polltimer", "polltimer=105\n"},
        {"rejecttimer", "rejecttimer=106\n"},
        {"rembusytimer", "rembusytimer=107\n"},
        {"inacttimer", "inacttimer=108\n"},
        {"maxretry", "maxretry=109\n"},
        {"xmitwindowsz", "xmitwindowsz=110\n"},
        {"rcvwindowsz", "rcvwindowsz=111\n"},
    };
}

// The keyword lines without the named ones.
std::string lines_without(std::initializer_list<std::string_view> skip)
{
    std::string out;
    for (const keyword_line &k : keyword_lines()) {
        bool drop = false;
        for (std::string_view s : skip)
            drop = drop || s == k.keyword;
        if (!drop)
            out += k.line;
    }
    return out;
}

const std::array<int, CONF_NPARAMS> full_params{0,   101, 102, 103, 104, 105,
                                                106, 107, 108, 109, 110, 111};

} // namespace

TEST(KeywordConstants, ShareTextsAndOrderWithTheWriter)
{
    const std::vector<keyword_line> lines = keyword_lines();
    const std::array<const char *, 14> constants{
        DEV_NAME,   DEV_INSTANCE, LLC2_ON,        DEV_LOOPBACK, TIME_INTRVL, ACK_TIMER, RSP_TIMER,
        POLL_TIMER, REJ_TIMER,    REM_BUSY_TIMER, INACT_TIMER,  MAX_RETRY,   XMIT_WIN,  RECV_WIN};
    for (std::size_t i = 0; i < constants.size(); ++i)
        EXPECT_STREQ(constants[i], lines[i].keyword);
}

TEST(ReadConfFile, CompleteFileSetsEveryDestination)
{
    const parsed p = parse("# header\n\n   # indented comment\n" + lines_without({}) + "\n");
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.name, "xnic");
    EXPECT_EQ(p.instance, 3);
    EXPECT_EQ(p.params, full_params);
    EXPECT_EQ(p.err, "");
}

TEST(ReadConfFile, AnyOrderWithCommentsBetween)
{
    std::string text;
    const std::vector<keyword_line> lines = keyword_lines();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        text += "#c\n\t\n" + it->line;
    const parsed p = parse(text);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.name, "xnic");
    EXPECT_EQ(p.params, full_params);
}

TEST(ReadConfFile, Llc2OnIsOptionalAndDefaultsToOne)
{
    const parsed p = parse(lines_without({"llc2_on"}));
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.params[CONF_LLC2_ON], 1);
    EXPECT_EQ(p.params[CONF_ACKTIMER], 103);
}

TEST(ReadConfFile, MissingKeywordsReportedOnlyUnderDebug)
{
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"empty file", ""},
        {"comments only", "# one\n#two\n   # three"},
        {"blank and other lines", "\n  \n\tsomething else\nACKTIMER=5\n"},
        {"one keyword missing", lines_without({"maxretry", "llc2_on"})},
        {"devicename missing", lines_without({"devicename", "llc2_on"})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const parsed quiet = parse(c.text);
        EXPECT_EQ(quiet.rc, -1);
        EXPECT_EQ(quiet.err, "");
        const parsed loud = parse(c.text, 1);
        EXPECT_EQ(loud.rc, -1);
        EXPECT_EQ(loud.err, "Cannot find all required keywords.\n");
        // The default is filled in before the check.
        EXPECT_EQ(loud.params[CONF_LLC2_ON], 1);
    }
}

// Numeric lines: each is put first in a file that has every other keyword
// but acktimer and no llc2_on, so the whole file is read. An ignored line
// leaves acktimer missing.
TEST(ReadConfFile, NumericLines)
{
    enum kind { value, invalid, ignored };
    const struct {
        std::string line;
        kind outcome;
        int expected;
    } cases[] = {
        {"acktimer=5\n", value, 5},
        {"acktimer = 5\n", value, 5},
        {"  \t acktimer=5\n", value, 5},
        {"acktimer\t=\t5\n", value, 5},
        {"acktimer=05\n", value, 5},
        {"acktimer=5x\n", value, 5},
        {"acktimer=5\t# LLC2: Ack Timer\n", value, 5},
        {"acktimer=5 6\n", value, 5},
        {"acktimer=5\r\n", value, 5},
        {"acktimer=0\n", value, 0},
        {"acktimer=2147483647\n", value, INT_MAX},
        {"acktimer=000000000000000000000000000012\n", value, 12},
        {"acktimer=2147483648\n", invalid, 0},
        {"acktimer=99999999999999999999999\n", invalid, 0},
        {"acktimer=-5\n", invalid, 0},
        {"acktimer=+5\n", invalid, 0},
        {"acktimer=\n", invalid, 0},
        {"acktimer=  \t\n", invalid, 0},
        {"acktimer\n", invalid, 0},
        {"acktimer 5\n", invalid, 0},
        {"acktimer==5\n", invalid, 0},
        {"acktimerx=5\n", invalid, 0},
        {"acktimer=x5\n", invalid, 0},
        {"ACKTIMER=5\n", ignored, 0},
        {"xacktimer=5\n", ignored, 0},
        {"word acktimer=5\n", ignored, 0},
        {"ack timer=5\n", ignored, 0},
    };
    const std::string rest = lines_without({"acktimer", "llc2_on"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const parsed p = parse(c.line + rest);
        switch (c.outcome) {
        case value:
            EXPECT_EQ(p.rc, 0);
            EXPECT_EQ(p.params[CONF_ACKTIMER], c.expected);
            EXPECT_EQ(p.err, "");
            break;
        case invalid:
            EXPECT_EQ(p.rc, -1);
            EXPECT_EQ(p.params[CONF_ACKTIMER], -1);
            // The whole line, its own newline included.
            EXPECT_EQ(p.err, "Invalid line: " + c.line + "\n");
            // Nothing after the bad line was read.
            EXPECT_EQ(p.name, "unset");
            break;
        case ignored:
            EXPECT_EQ(p.rc, -1);
            EXPECT_EQ(p.params[CONF_ACKTIMER], unset);
            EXPECT_EQ(p.err, "");
            break;
        }
    }
}

TEST(GetValue, UsesOnlyTheKeywordsLength)
{
    const struct {
        const char *line;
        const char *keyword;
        int expected;
    } cases[] = {
        {"acktimer=7", "acktimer", 7},   // no newline at all
        {"abcdefgh=7", "acktimer", 7},   // the caller did the matching
        {"acktimer", "acktimer", -1},    // the text ends at the keyword
        {"acktimer   ", "acktimer", -1}, // ... or in the white space after it
        {"acktimer=", "acktimer", -1},   {"rcvwindowsz=\v\f42", "rcvwindowsz", 42},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(get_value(c.line, c.keyword), c.expected);
    }
}

TEST(ReadConfFile, DeviceNameLines)
{
    const std::string pad1022(1022, 'n');
    const std::string pad1023(1023, 'n');
    const struct {
        std::string line;
        bool ok;
        std::string name;
    } cases[] = {
        {"devicename=xnic\n", true, "xnic"},
        {"devicename = xnic more words\n", true, "xnic"},
        {"devicename=\txnic\t# comment\n", true, "xnic"},
        {"devicename=xnic\r\n", true, "xnic"},
        {"devicename=\n", true, ""},
        {"devicename=   \n", true, ""},
        // The text after "=" and its white space, newline included, must be
        // shorter than 1024 characters.
        {"devicename=" + pad1022 + "\n", true, pad1022},
        {"devicename=   " + pad1022 + "\n", true, pad1022},
        {"devicename=" + pad1023 + "\n", false, ""},
        {"devicename=x " + std::string(1020, ' ') + "\n", true, "x"},
        {"devicename=x " + std::string(1021, ' ') + "\n", false, ""},
        {"devicename\n", false, ""},
        {"devicename xnic\n", false, ""},
        {"devicenamex=xnic\n", false, ""},
        {"devicename:xnic\n", false, ""},
    };
    const std::string rest = lines_without({"devicename", "llc2_on"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        const parsed p = parse(c.line + rest);
        if (c.ok) {
            EXPECT_EQ(p.rc, 0);
            EXPECT_EQ(p.name, c.name);
            EXPECT_EQ(p.err, "");
        } else {
            EXPECT_EQ(p.rc, -1);
            EXPECT_EQ(p.err, "Invalid line: " + c.line + "\n");
            EXPECT_EQ(p.instance, unset);
        }
    }
}

TEST(ReadConfFile, LongestNameOnALastLineWithoutNewline)
{
    const std::string name(1023, 'n');
    const parsed p = parse(lines_without({"devicename", "llc2_on"}) + "devicename=" + name);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.name, name);
}

// A line is examined 2047 characters at a time: what is beyond goes on as
// the next line, unless the line is a comment.
TEST(ReadConfFile, LongKeywordLineGoesOnAsTheNextLine)
{
    const struct {
        std::size_t pad;
        bool found;
    } cases[] = {
        {2046, false}, // the cut falls inside the keyword
        {2047, true},  // the keyword starts the second piece
        {2048, false}, // the second piece starts with "x"
        {4094, true},  // third piece
    };
    const std::string rest = lines_without({"acktimer", "llc2_on"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pad);
        const parsed p = parse(std::string(c.pad, 'x') + "acktimer=9\n" + rest);
        EXPECT_EQ(p.rc, c.found ? 0 : -1);
        EXPECT_EQ(p.params[CONF_ACKTIMER], c.found ? 9 : unset);
    }
}

// The pieces llc2conf's warnings are judged on are the ones the parser
// reads, each shown as its line, "+" when it goes on a line begun before,
// and its text.
TEST(NextConfPiece, CutsAsTheParserReads)
{
    using namespace std::string_literals;
    const std::string x(2047, 'x');
    const struct {
        const char *what;
        std::string bytes;
        std::vector<std::string> pieces;
    } cases[] = {
        {"short lines", "a\n\nb", {"1 a\n", "2 \n", "3 b"}},
        {"2046 and newline", x.substr(1) + "\nb\n", {"1 " + x.substr(1) + "\n", "2 b\n"}},
        {"2047 and newline", x + "\nb\n", {"1 " + x, "1+\n", "2 b\n"}},
        {"three pieces", x + x + "acktimer=9\nb", {"1 " + x, "1+" + x, "1+acktimer=9\n", "2 b"}},
        {"long comment", "  #" + x + "acktimer=9\nb\n", {"1   #" + x.substr(3), "2 b\n"}},
        {"comment in the rest", x + "#" + x + "\nb\n", {"1 " + x, "1+#" + x.substr(1), "2 b\n"}},
        {"NUL in a line", "ab\0cd\nb\n"s, {"1 ab", "2 b\n"}},
        {"NUL in a long comment", "#\0"s + x + "\nb", {"1 #", "2 b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        file_ptr fp = stream_of(c.bytes);
        std::rewind(fp.get());
        conf_piece p;
        std::vector<std::string> got;
        while (next_conf_piece(fp.get(), p)) {
            EXPECT_EQ(p.number, static_cast<int>(got.size()) + 1);
            got.push_back(std::to_string(p.line) + (p.rest ? "+" : " ") + p.bytes.data());
        }
        EXPECT_EQ(got, c.pieces);
    }
}

TEST(ReadConfFile, LongCommentTailIsDiscarded)
{
    const std::string rest = lines_without({"acktimer", "llc2_on"});
    const struct {
        const char *what;
        std::string text;
        int ack;
    } cases[] = {
        // The tail would be a keyword line if it were read as one.
        {"tail looks like a keyword", "#" + std::string(2046, '-') + "acktimer=9\n" + rest, unset},
        {"indented, tail over two pieces", "   #" + std::string(4000, '-') + "acktimer=9\n" + rest,
         unset},
        // Discarding stops at the newline: the next line is parsed.
        {"next line parsed", "#" + std::string(3000, '-') + "\nacktimer=4\n" + rest, 4},
        // Exactly full with its newline: nothing to discard.
        {"2046 and newline", "#" + std::string(2045, '-') + "\nacktimer=4\n" + rest, 4},
        // Full without the newline: only the newline is left to discard.
        {"2047 and newline", "#" + std::string(2046, '-') + "\nacktimer=4\n" + rest, 4},
        {"long comment at the end", rest + "acktimer=4\n#" + std::string(3000, '-'), 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const parsed p = parse(c.text);
        EXPECT_EQ(p.rc, c.ack == unset ? -1 : 0);
        EXPECT_EQ(p.params[CONF_ACKTIMER], c.ack);
        EXPECT_EQ(p.err, "");
    }
}

// A NUL byte ends the text of its line as the parser sees it; the bytes up
// to the newline are gone with it, and the line after is read normally.
TEST(ReadConfFile, NulByteEndsTheLineText)
{
    using namespace std::string_literals;
    const std::string rest = lines_without({"acktimer", "llc2_on"});
    const struct {
        const char *what;
        std::string text;
        int ack;
    } cases[] = {
        {"comment with NUL, keyword next", "# note\0 more\nacktimer=4\n"s + rest, 4},
        {"long comment with NUL", "#\0"s + std::string(2100, '-') + "acktimer=9\n" + rest, unset},
        {"NUL after the value", "acktimer=4\0junk\n"s + rest, 4},
        {"NUL before the keyword", "\0acktimer=4\n"s + rest, unset},
        {"NUL hides the value", "acktimer=\0"s + "4\n" + rest, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const parsed p = parse(c.text);
        EXPECT_EQ(p.params[CONF_ACKTIMER], c.ack);
        EXPECT_EQ(p.rc, c.ack >= 0 ? 0 : -1);
    }
    EXPECT_EQ(parse("acktimer=\0"s + "4\n" + rest).err, "Invalid line: acktimer=\n");
}

TEST(ReadConfFile, LastLineWithoutNewline)
{
    EXPECT_EQ(parse(lines_without({}) + "# trailing comment").rc, 0);
    const parsed p = parse(lines_without({"rcvwindowsz", "llc2_on"}) + "rcvwindowsz=7");
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.params[CONF_RCVWINDOWSZ], 7);
}

TEST(ReadConfFile, RepeatedKeywords)
{
    // Before the set is complete the later value wins.
    parsed p = parse("acktimer=1\n" + lines_without({}));
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.params[CONF_ACKTIMER], 103);

    // Once all fourteen are seen nothing more is read, not even a bad line.
    p = parse(lines_without({}) + "acktimer=1\nacktimer=-1\n");
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.params[CONF_ACKTIMER], 103);
    EXPECT_EQ(p.err, "");

    // Without llc2_on the set is never complete before the end: every line
    // counts.
    p = parse(lines_without({"llc2_on"}) + "acktimer=1\n");
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.params[CONF_ACKTIMER], 1);
    p = parse(lines_without({"llc2_on"}) + "acktimer=-1\n");
    EXPECT_EQ(p.rc, -1);
    EXPECT_EQ(p.err, "Invalid line: acktimer=-1\n\n");
}

TEST(ReadConfFile, InvalidLineStopsAndKeepsWhatCameBefore)
{
    const parsed p = parse("devicename=abc\ndeviceinstance=2\n   maxretry = x\nacktimer=5\n");
    EXPECT_EQ(p.rc, -1);
    EXPECT_EQ(p.err, "Invalid line:    maxretry = x\n\n");
    EXPECT_EQ(p.name, "abc");
    EXPECT_EQ(p.instance, 2);
    EXPECT_EQ(p.params[CONF_MAXRETRY], -1);
    EXPECT_EQ(p.params[CONF_ACKTIMER], unset);
}

TEST(ReadConfFile, SameStreamTwiceGivesTheSameResult)
{
    const std::string texts[] = {lines_without({}) + "# more\n", lines_without({"llc2_on"}),
                                 lines_without({"maxretry"})};
    for (const std::string &text : texts) {
        file_ptr fp = stream_of(text);
        const parsed first = parse_stream(fp.get());
        // Wherever the first call left it, even at end of file.
        while (std::fgetc(fp.get()) != EOF) {
        }
        const parsed second = parse_stream(fp.get());
        EXPECT_EQ(second.rc, first.rc);
        EXPECT_EQ(second.name, first.name);
        EXPECT_EQ(second.params, first.params);
    }
}

TEST(ReadConfFile, StaleErrorFlagDoesNotEndTheParse)
{
    file_ptr fp = stream_of(lines_without({}));
    std::FILE *ro = std::freopen(nullptr, "r", fp.get());
    ASSERT_NE(ro, nullptr);
    // Writing to a read-only stream fails and sets its error flag.
    EXPECT_EQ(std::fputc('x', ro), EOF);
    ASSERT_NE(std::ferror(ro), 0);
    EXPECT_EQ(parse_stream(ro).rc, 0);
}

// The line after the completing one is read before the parse ends, up to
// the buffer's size; nothing further is, not even a long comment's rest.
TEST(ReadConfFile, CompleteParseStopsAfterTheNextLine)
{
    const struct {
        std::string after;
        long read; // of after
    } cases[] = {
        {"# next\n# and more\n", 7},
        {"#" + std::string(3000, '-') + "\n# and more\n", 2047},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.read);
        const std::string text = lines_without({}) + c.after;
        file_ptr fp = stream_of(text);
        EXPECT_EQ(parse_stream(fp.get()).rc, 0);
        EXPECT_EQ(std::ftell(fp.get()), static_cast<long>(lines_without({}).size()) + c.read);
    }
}

TEST(ReadConfFile, UnseekableStream)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "acktimer=1\n", 11), 11);
    close(fds[1]);
    file_ptr fp(fdopen(fds[0], "r"));
    ASSERT_TRUE(fp);
    EXPECT_EQ(parse_stream(fp.get()).err, "");
    const parsed p = parse_stream(fp.get(), 1);
    EXPECT_EQ(p.rc, -1);
    EXPECT_EQ(p.err, "Cannot lseek(): Illegal seek\n");
}

// The report llc2conf words its findings from: the file's own line numbers,
// however the parser cut or skipped the lines before, and the keywords never
// seen; the parser itself says nothing then, not even under debug.
TEST(ReadConfFileReport, TellsTheFilesLineAndWhatIsMissing)
{
    using namespace std::string_literals;
    const std::string all = lines_without({});
    const std::string rest = lines_without({"acktimer", "llc2_on"}); // 12 lines
    const struct {
        const char *what;
        std::string text;
        int invalid_line; // 0: the file parses or lacks keywords
        std::string invalid_text;
        std::string missing;
        int ack_line; // where acktimer was read, when the file parses
    } cases[] = {
        {"comments and blanks", "# a\n\n  # b\n" + all, 0, "", "", 9},
        {"value and tab comment", "# a\nacktimer=x2\t# Ack\n", 2, "acktimer=x2\t# Ack", "", 0},
        {"long comment", "#" + std::string(3000, '-') + "\nacktimer=-1\n", 2, "acktimer=-1", "", 0},
        {"long keyword line", "acktimer=5" + std::string(2100, ' ') + "\nmaxretry=x\n", 2,
         "maxretry=x", "", 0},
        {"NUL in a line", "devicename=xn\0ic\nacktimer=\n"s, 2, "acktimer=", "", 0},
        {"no newline at the end", "\n\nrsptimer=x", 3, "rsptimer=x", "", 0},
        {"devicename too long", "#\ndevicename=" + std::string(1100, 'n') + "\n", 2,
         "devicename=" + std::string(1100, 'n'), "", 0},
        {"the last of a repeat counts", "acktimer=1\n" + rest + "acktimer=7\n", 0, "", "", 14},
        {"two missing", lines_without({"polltimer", "maxretry"}), 0, "", "polltimer maxretry", 0},
        {"empty", "", 0, "",
         "devicename deviceinstance deviceloopback timeinterval acktimer rsptimer polltimer "
         "rejecttimer rembusytimer inacttimer maxretry xmitwindowsz rcvwindowsz",
         0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        file_ptr fp = stream_of(c.text);
        std::array<char, LLC2_DEVNAME_SIZE> name{};
        std::array<int, CONF_NPARAMS> params{};
        int instance = 0;
        conf_report report;
        debug_level guard(1);
        int rc = 0;
        const std::string err = capture_stderr([&] {
            rc = read_conf_file_report(fp.get(), name.data(), &instance, params.data(), &report);
        });
        EXPECT_EQ(err, "");
        EXPECT_EQ(report.invalid_line, c.invalid_line);
        EXPECT_EQ(report.invalid_text, c.invalid_text);
        EXPECT_EQ(report.missing, c.missing);
        EXPECT_EQ(rc, c.ack_line > 0 ? 0 : -1);
        if (c.ack_line > 0) {
            EXPECT_EQ(report.param_line[CONF_ACKTIMER], c.ack_line);
        }
    }
}
