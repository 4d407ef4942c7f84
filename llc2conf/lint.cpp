// Warnings about a configuration file that llc2 accepts but reads otherwise
// than an administrator would: lines it never gets to, a keyword whose
// earlier value is overridden, a value cut short, a byte-order mark that
// hides the first line, a device that is not there to open.
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

// The file's lines as the parser sees them: up to a NUL byte, without the
// newline.
std::vector<std::string> lines_of(std::FILE *fp)
{
    std::vector<std::string> out;
    std::rewind(fp);
    std::string line;
    bool cut = false; // a NUL byte ended what the parser sees of it
    for (int c = std::getc(fp);; c = std::getc(fp)) {
        if (c == EOF || c == '\n') {
            if (c != EOF || !line.empty() || cut)
                out.push_back(line);
            if (c == EOF)
                break;
            line.clear();
            cut = false;
        } else if (c == '\0') {
            cut = true;
        } else if (!cut) {
            line += static_cast<char>(c);
        }
    }
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
    const std::vector<std::string> lines = lines_of(fp);
    // Lines the parser looked at: all of a complete file up to where it
    // stopped, and of a refused one those before the line it refused.
    const auto looked_at = [&report](int line) {
        return (report.unread_from == 0 || line < report.unread_from) &&
               (report.invalid_line == 0 || line < report.invalid_line);
    };
    std::map<std::string_view, int> last; // the line whose value counts
    for (int n = 1; n <= static_cast<int>(lines.size()); ++n) {
        std::string_view text = lines[n - 1];
        if (const char *kw = keyword_of(text); kw != nullptr && looked_at(n))
            last[kw] = n;
    }

    int said = 0;
    const auto warn = [ppa, &said](int line) {
        finding_at(ppa, line);
        ++said;
    };
    if (!lines.empty() && lines.front().starts_with(byte_order_mark)) {
        warn(1);
        std::fputs(gettext("Warning: begins with a byte-order mark, which llc2 reads as text\n"),
                   stderr);
    }
    for (int n = 1; n <= static_cast<int>(lines.size()); ++n) {
        std::string_view text = lines[n - 1];
        const char *kw = keyword_of(text);
        if (kw == nullptr)
            continue;
        if (report.unread_from > 0 && n >= report.unread_from) {
            warn(n);
            std::fprintf(stderr, gettext("Warning: %s is never read: llc2 stops after line %d\n"),
                         kw, report.unread_from - 1);
            continue;
        }
        if (!looked_at(n))
            continue;
        if (const int at = last[kw]; at != n) {
            warn(n);
            std::fprintf(stderr, gettext("Warning: %s is given again on line %d, which counts\n"),
                         kw, at);
        }
        const std::string_view written = value_as_written(text, kw);
        const int value = kw == DEV_NAME ? -1 : get_value(std::string(text).c_str(), kw);
        if (value >= 0 && written.find_first_not_of("0123456789") != std::string_view::npos) {
            warn(n);
            std::fprintf(stderr, gettext("Warning: %s=%s: read as %d\n"), kw,
                         shown_name(written).c_str(), value);
        }
    }
    if (v != nullptr)
        said += missing_device(ppa, *v, report);
    return said;
}
