// SPDX-License-Identifier: Apache-2.0
// The configuration file parser: read_conf_file and get_value, and the
// keyword texts shared with the writer.
#include "llc2_conf.h"
#include "llc2_debug.h"

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace
{

constexpr std::string_view kw_devicename = "devicename";
constexpr std::string_view kw_deviceinstance = "deviceinstance";
constexpr std::string_view kw_llc2_on = "llc2_on";
constexpr std::string_view kw_deviceloopback = "deviceloopback";
constexpr std::string_view kw_timeinterval = "timeinterval";
constexpr std::string_view kw_acktimer = "acktimer";
constexpr std::string_view kw_rsptimer = "rsptimer";
constexpr std::string_view kw_polltimer = "polltimer";
constexpr std::string_view kw_rejecttimer = "rejecttimer";
constexpr std::string_view kw_rembusytimer = "rembusytimer";
constexpr std::string_view kw_inacttimer = "inacttimer";
constexpr std::string_view kw_maxretry = "maxretry";
constexpr std::string_view kw_xmitwindowsz = "xmitwindowsz";
constexpr std::string_view kw_rcvwindowsz = "rcvwindowsz";

} // namespace

// The literals behind the string_views are NUL-terminated, so these are
// ordinary C strings.
const char *const DEV_NAME = kw_devicename.data();
const char *const DEV_INSTANCE = kw_deviceinstance.data();
const char *const LLC2_ON = kw_llc2_on.data();
const char *const DEV_LOOPBACK = kw_deviceloopback.data();
const char *const TIME_INTRVL = kw_timeinterval.data();
const char *const ACK_TIMER = kw_acktimer.data();
const char *const RSP_TIMER = kw_rsptimer.data();
const char *const POLL_TIMER = kw_polltimer.data();
const char *const REJ_TIMER = kw_rejecttimer.data();
const char *const REM_BUSY_TIMER = kw_rembusytimer.data();
const char *const INACT_TIMER = kw_inacttimer.data();
const char *const MAX_RETRY = kw_maxretry.data();
const char *const XMIT_WIN = kw_xmitwindowsz.data();
const char *const RECV_WIN = kw_rcvwindowsz.data();

namespace
{

constexpr std::size_t line_size = CONF_LINE_SIZE;
constexpr std::size_t name_text_max = LLC2_DEVNAME_SIZE; // text must be shorter
constexpr unsigned seen_all = 0x3fff;
constexpr unsigned seen_llc2_on = 0x2000;

// Where a keyword's value goes: the device name, the instance, or one of
// the twelve conf_params.
constexpr int to_devicename = -2;
constexpr int to_instance = -1;

struct keyword_row {
    std::string_view text;
    unsigned bit;
    int dest;
};

// In the order the parser tries them. No keyword is a prefix of another, so
// at most one matches a line.
constexpr std::array<keyword_row, 14> keywords{{
    {kw_devicename, 0x0001, to_devicename},
    {kw_deviceinstance, 0x0002, to_instance},
    {kw_llc2_on, 0x2000, CONF_LLC2_ON},
    {kw_deviceloopback, 0x0004, CONF_LOOPBACK},
    {kw_timeinterval, 0x0008, CONF_TIMEINTERVAL},
    {kw_acktimer, 0x0010, CONF_ACKTIMER},
    {kw_rsptimer, 0x0020, CONF_RSPTIMER},
    {kw_polltimer, 0x0040, CONF_POLLTIMER},
    {kw_rejecttimer, 0x0080, CONF_REJECTTIMER},
    {kw_rembusytimer, 0x0100, CONF_REMBUSYTIMER},
    {kw_inacttimer, 0x0200, CONF_INACTTIMER},
    {kw_maxretry, 0x0400, CONF_MAXRETRY},
    {kw_xmitwindowsz, 0x0800, CONF_XMITWINDOWSZ},
    {kw_rcvwindowsz, 0x1000, CONF_RCVWINDOWSZ},
}};

static_assert([] {
    unsigned all = 0;
    for (const keyword_row &row : keywords)
        all |= row.bit;
    return all == seen_all;
}());

bool is_space(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool is_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The syntax shared by numeric and device-name lines: white space after the
// keyword, then "=". Returns what follows "=" and its white space, or null
// when the line has no "=" there.
const char *after_equals(const char *p)
{
    if (*p == '\0')
        return nullptr;
    while (is_space(*p))
        ++p;
    if (*p != '=')
        return nullptr;
    ++p;
    while (is_space(*p))
        ++p;
    return p;
}

const keyword_row *match_keyword(const char *text)
{
    // Comparing the first character before the rest keeps the common case,
    // a line that is no keyword line, cheap.
    const auto row = std::find_if(keywords.begin(), keywords.end(), [text](const keyword_row &k) {
        return text[0] == k.text[0] && std::strncmp(text, k.text.data(), k.text.size()) == 0;
    });
    return row != keywords.end() ? &*row : nullptr;
}

// Stores the name of a devicename line (text at the keyword) and says
// whether the line is acceptable.
bool parse_devicename(const char *text, char *devicename)
{
    const char *name = after_equals(text + kw_devicename.size());
    if (name == nullptr)
        return false;
    // The whole rest of the line counts, its newline too.
    const std::size_t rest = std::strlen(name);
    if (rest >= name_text_max)
        return false;
    std::size_t len = 0;
    while (len < rest && !is_space(name[len]))
        ++len;
    std::memcpy(devicename, name, len);
    devicename[len] = '\0';
    return true;
}

void discard_rest_of_line(std::FILE *fp)
{
    int c;
    do
        c = std::getc(fp);
    while (c != '\n' && c != EOF);
}

void invalid_line(const char *line)
{
    std::fprintf(stderr, gettext("Invalid line: %s\n"), line);
}

} // namespace

// The one rule of how the parser cuts a file into lines, shared with
// llc2conf's warnings so they judge what the parser reads.
bool next_conf_piece(std::FILE *fp, conf_piece &p)
{
    // The rest of a long comment is skipped only now, so that a parse that
    // ends after a comment's piece reads no more of the file than that.
    if (p.cut && p.comment) {
        discard_rest_of_line(fp);
        p.cut = false;
    }
    std::array<char, line_size> &buf = p.bytes;
    // fgets writes at most line_size - 1 characters, so the last byte only
    // ever receives the terminator, and only when the buffer filled up.
    buf[line_size - 1] = '\x01';
    if (std::fgets(buf.data(), static_cast<int>(line_size), fp) == nullptr)
        return false;
    p.rest = p.cut;
    if (!p.rest)
        ++p.line;
    ++p.number;
    // Whether fgets stopped because the buffer was full (and not at a
    // newline). strlen alone cannot tell: an embedded NUL byte makes it stop
    // short of the newline fgets did read, and such a line would be taken
    // for a cut one, swallowing the line after it as a comment's rest.
    p.cut = buf[line_size - 1] == '\0' && buf[line_size - 2] != '\n';
    const char *text = buf.data();
    while (is_space(*text))
        ++text;
    p.comment = *text == '#';
    return true;
}

int get_value(const char *line, const char *keyword)
{
    const char *p = after_equals(line + std::strlen(keyword));
    if (p == nullptr || !is_digit(*p))
        return -1;
    // atoi's reading of the digits, but a number past INT_MAX is refused
    // rather than left undefined.
    int value = 0;
    for (; is_digit(*p); ++p) {
        const int digit = *p - '0';
        if (value > (INT_MAX - digit) / 10)
            return -1;
        value = value * 10 + digit;
    }
    return value;
}

int read_conf_file(FILE *fp, char *devicename, int *instance, int *conf_params)
{
    return read_conf_file_report(fp, devicename, instance, conf_params, nullptr);
}

int read_conf_file_report(FILE *fp, char *devicename, int *instance, int *conf_params,
                          conf_report *report)
{
    if (std::fseek(fp, 0, SEEK_SET) < 0) {
        if (debug > 0)
            std::fprintf(stderr, "Cannot lseek(): %s\n", std::strerror(errno));
        return -1;
    }
    // Some C libraries fail every fgets on a stream whose error flag is
    // still set from an earlier read; start each parse clean.
    std::clearerr(fp);

    conf_piece piece;
    unsigned seen = 0;
    bool more = next_conf_piece(fp, piece);
    const auto refuse = [&]() {
        if (report == nullptr) {
            invalid_line(piece.bytes.data());
        } else {
            report->invalid_line = piece.line;
            report->invalid_text = piece.bytes.data();
            if (report->invalid_text.ends_with('\n'))
                report->invalid_text.pop_back();
            report->pieces_read = piece.number;
        }
        return -1;
    };
    while (more) {
        const char *text = piece.bytes.data();
        while (is_space(*text))
            ++text;

        if (piece.comment) {
            // Nothing to read.
        } else if (const keyword_row *row = match_keyword(text); row != nullptr) {
            if (row->dest == to_devicename) {
                if (!parse_devicename(text, devicename))
                    return refuse();
            } else {
                const int value = get_value(text, row->text.data());
                if (row->dest == to_instance)
                    *instance = value;
                else
                    conf_params[row->dest] = value;
                if (value == -1)
                    return refuse();
            }
            seen |= row->bit;
            if (report != nullptr) {
                int &at = row->dest == to_devicename ? report->devicename_line
                          : row->dest == to_instance ? report->instance_line
                                                     : report->param_line.at(row->dest);
                at = piece.line;
                if (row->dest >= 0)
                    report->param_in_rest.at(row->dest) = piece.rest;
            }
        }
        if (report != nullptr)
            report->pieces_read = piece.number;

        // The next piece is read before the mask is checked, so a complete
        // file leaves the stream past the piece after the last keyword.
        more = next_conf_piece(fp, piece);
        if (more && seen == seen_all) {
            // What was just read is not looked at: a new line, or the rest
            // of a cut one.
            if (report != nullptr)
                report->unread_from = piece.rest ? piece.line + 1 : piece.line;
            return 0;
        }
    }

    // End of file (or a read error, taken as one).
    if ((seen & seen_llc2_on) == 0) {
        conf_params[CONF_LLC2_ON] = 1;
        seen |= seen_llc2_on;
    }
    if (seen == seen_all)
        return 0;
    if (report != nullptr) {
        for (const keyword_row &row : keywords) {
            if ((seen & row.bit) == 0)
                report->missing.append(report->missing.empty() ? "" : " ").append(row.text);
        }
    } else if (debug > 0) {
        std::fprintf(stderr, "Cannot find all required keywords.\n");
    }
    return -1;
}

int read_conf_and_close(FILE *fp, conf_values &v)
{
    const int parsed = read_conf_file(fp, v.devicename.data(), &v.instance, v.params.data());
    std::fclose(fp);
    return parsed;
}
