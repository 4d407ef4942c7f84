// SPDX-License-Identifier: Apache-2.0
// Warnings about a configuration file that llc2 accepts but reads otherwise
// than an administrator would: lines it never gets to, a keyword whose
// earlier value is overridden, a value cut short, a line too long to be
// read as one, a byte-order mark that hides the first line, a device that
// is not there to open. Each is judged on the pieces the parser reads.
#include "llc2_names.h"
#include "llc2conf.h"
#include "paths.h"

#include <sys/stat.h>

#include <libintl.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// The keywords in the order the parser tries them.
const std::array<const char *const *, 14> keywords{
    &DEV_NAME,    &DEV_INSTANCE, &LLC2_ON,    &DEV_LOOPBACK, &TIME_INTRVL,
    &ACK_TIMER,   &RSP_TIMER,    &POLL_TIMER, &REJ_TIMER,    &REM_BUSY_TIMER,
    &INACT_TIMER, &MAX_RETRY,    &XMIT_WIN,   &RECV_WIN,
};

constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";

bool is_space(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A piece of the file as the parser reads it (see conf_piece), its text up
// to a NUL byte.
struct piece_text {
    int line;
    bool rest;
    std::string text;
};

std::vector<piece_text> pieces_of(std::FILE *fp)
{
    std::vector<piece_text> out;
    std::rewind(fp);
    conf_piece p;
    while (next_conf_piece(fp, p))
        out.push_back({p.line, p.rest, p.bytes.data()});
    std::rewind(fp);
    return out;
}

// The keyword a line starts with, after white space, as the parser matches
// it; null for a comment or any other line. text is left at the keyword.
const char *keyword_of(std::string_view &text)
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    for (const char *const *kw : keywords) {
        if (text.starts_with(*kw))
            return *kw;
    }
    return nullptr;
}

// What follows "=" and its white space up to the next white space: the
// value as written. Empty when there is no "=".
std::string_view value_as_written(std::string_view text, std::string_view keyword)
{
    text.remove_prefix(keyword.size());
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    if (text.empty() || text.front() != '=')
        return {};
    text.remove_prefix(1);
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    std::size_t len = 0;
    while (len < text.size() && !is_space(text[len]))
        ++len;
    return text.substr(0, len);
}

// The node llc2 -p opens for a switched-on PPA: any entry of that name will
// do, whatever it is. Only names check takes for a device are looked for.
int missing_device(int ppa, const conf_values &v, const conf_report &report)
{
    const char *name = v.devicename.data();
    if (v.params[CONF_LLC2_ON] != 1 || !provider_name_ok(name))
        return 0;
    const std::string node = rooted_path(std::string("/dev/") + name);
    struct stat st {
    };
    if (node.empty() || lstat(node.c_str(), &st) == 0)
        return 0;
    finding_at(ppa, report.devicename_line);
    std::fprintf(stderr, gettext("Warning: devicename=%s: no %s: llc2 -p would fail to open it\n"),
                 shown_name(name).c_str(), shown_name(node).c_str());
    return 1;
}

} // namespace

int conf_warnings(int ppa, std::FILE *fp, const conf_values *v, const conf_report &report)
{
    const std::vector<piece_text> pieces = pieces_of(fp);
    const int count = static_cast<int>(pieces.size());
    // Pieces (numbered from 1) whose values count: all of a complete file up
    // to where the parser stopped, and of a refused one those before the one
    // it refused.
    const auto counts = [&report](int n) {
        return n < report.pieces_read || (n == report.pieces_read && report.invalid_line == 0);
    };
    std::map<std::string_view, int> last; // the piece whose value counts
    for (int n = 1; n <= count; ++n) {
        std::string_view text = pieces[n - 1].text;
        if (const char *kw = keyword_of(text); kw != nullptr && counts(n))
            last[kw] = n;
    }

    int said = 0;
    const auto warn = [ppa, &said](int line) {
        finding_at(ppa, line);
        ++said;
    };
    if (!pieces.empty() && pieces.front().text.starts_with(byte_order_mark)) {
        warn(1);
        std::fputs(gettext("Warning: begins with a byte-order mark, which llc2 reads as text\n"),
                   stderr);
    }
    for (int n = 1; n <= count; ++n) {
        const piece_text &piece = pieces[n - 1];
        // Once a line, at its second piece; a newline alone there is only
        // an empty line.
        if (piece.rest && !pieces[n - 2].rest && n <= report.pieces_read && piece.text != "\n") {
            warn(piece.line);
            std::fprintf(stderr,
                         gettext("Warning: longer than %d characters: llc2 reads the rest as a "
                                 "line of its own\n"),
                         CONF_LINE_SIZE - 1);
        }
        std::string_view text = piece.text;
        const char *kw = keyword_of(text);
        if (kw == nullptr)
            continue;
        if (report.unread_from > 0 && n > report.pieces_read) {
            warn(piece.line);
            std::fprintf(stderr, gettext("Warning: %s is never read: llc2 stops after line %d\n"),
                         kw, report.unread_from - 1);
            continue;
        }
        if (!counts(n))
            continue;
        if (const int at = last[kw]; at != n) {
            warn(piece.line);
            std::fprintf(stderr, gettext("Warning: %s is given again on line %d, which counts\n"),
                         kw, pieces[at - 1].line);
        }
        const std::string_view written = value_as_written(text, kw);
        const int value = kw == DEV_NAME ? -1 : get_value(std::string(text).c_str(), kw);
        if (value >= 0 && written.find_first_not_of("0123456789") != std::string_view::npos) {
            warn(piece.line);
            std::fprintf(stderr, gettext("Warning: %s=%s: read as %d\n"), kw,
                         shown_name(written).c_str(), value);
        }
    }
    if (v != nullptr)
        said += missing_device(ppa, *v, report);
    return said;
}
