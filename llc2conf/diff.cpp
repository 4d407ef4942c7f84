// SPDX-License-Identifier: Apache-2.0
// Comparing a configuration file with what the writer would put there, and
// showing the difference as diff -u does. The files are a few dozen lines,
// so a longest common subsequence over lines is all it takes.
#include "llc2conf.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace
{

constexpr std::string_view built_prefix = "# Built: ";
constexpr std::size_t context = 3; // lines around a change, as diff -u

// The lines of text, each with its newline; the last may lack one.
std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t len = end == std::string_view::npos ? text.size() : end + 1;
        out.push_back(text.substr(0, len));
        text.remove_prefix(len);
    }
    return out;
}

// The time the file was written is no setting: any two Built lines match.
bool same_line(std::string_view a, std::string_view b)
{
    return a == b || (a.starts_with(built_prefix) && b.starts_with(built_prefix));
}

enum class op : char { keep = ' ', drop = '-', add = '+' };

struct step {
    op kind;
    std::size_t line; // index into the old lines for keep and drop, the new for add
};

// The edit from a to b: every line of a kept or dropped, every line of b
// kept or added, drops before adds where a run of lines changes. Lines are
// compared as they are: a write that changes a setting changes the Built
// line too, and the diff shows the whole change.
std::vector<step> edit_script(const std::vector<std::string_view> &a,
                              const std::vector<std::string_view> &b)
{
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    // lcs[i * (m + 1) + j]: the longest common subsequence of a[i..] and b[j..].
    std::vector<std::size_t> lcs((n + 1) * (m + 1), 0);
    const auto at = [m](std::size_t i, std::size_t j) { return i * (m + 1) + j; };
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = m; j-- > 0;) {
            lcs[at(i, j)] = a[i] == b[j] ? lcs[at(i + 1, j + 1)] + 1
                                         : std::max(lcs[at(i + 1, j)], lcs[at(i, j + 1)]);
        }
    }
    std::vector<step> out;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a[i] == b[j]) {
            out.push_back({op::keep, i++});
            ++j;
        } else if (i < n && (j == m || lcs[at(i + 1, j)] >= lcs[at(i, j + 1)])) {
            out.push_back({op::drop, i++});
        } else {
            out.push_back({op::add, j++});
        }
    }
    return out;
}

// A hunk's range as diff -u writes it: an empty range names the line before
// it, a range of one line its line alone.
std::string range(std::size_t first, std::size_t count)
{
    if (count == 0)
        return std::to_string(first) + ",0";
    if (count == 1)
        return std::to_string(first + 1);
    return std::to_string(first + 1) + "," + std::to_string(count);
}

void put(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void put_line(op kind, std::string_view line)
{
    std::putchar(static_cast<char>(kind));
    put(line);
    if (!line.ends_with('\n'))
        put("\n\\ No newline at end of file\n");
}

} // namespace

bool same_conf_text(std::string_view a, std::string_view b)
{
    const std::vector<std::string_view> la = lines_of(a);
    const std::vector<std::string_view> lb = lines_of(b);
    return std::equal(la.begin(), la.end(), lb.begin(), lb.end(), same_line);
}

void print_conf_diff(const std::optional<std::string> &before,
                     const std::optional<std::string> &after, const char *path)
{
    const std::vector<std::string_view> a = lines_of(before ? *before : std::string_view());
    const std::vector<std::string_view> b = lines_of(after ? *after : std::string_view());
    // Nothing is written for a file that differs in its Built line alone.
    if (before && after && same_conf_text(*before, *after))
        return;
    const std::vector<step> script = edit_script(a, b);
    put("--- ");
    put(before ? path : "/dev/null");
    put("\n+++ ");
    put(after ? path : "/dev/null");
    put("\n");

    // Where each step stands in the old and the new file.
    std::vector<std::size_t> old_at(script.size() + 1, 0);
    std::vector<std::size_t> new_at(script.size() + 1, 0);
    for (std::size_t k = 0; k < script.size(); ++k) {
        old_at[k + 1] = old_at[k] + (script[k].kind != op::add ? 1 : 0);
        new_at[k + 1] = new_at[k] + (script[k].kind != op::drop ? 1 : 0);
    }
    std::size_t k = 0;
    while (k < script.size()) {
        while (k < script.size() && script[k].kind == op::keep)
            ++k;
        if (k == script.size())
            break;
        // A hunk runs from context lines before its first change to context
        // lines after its last; changes fewer than 2 * context + 1 kept
        // lines apart share one.
        const std::size_t first = k >= context ? k - context : 0;
        std::size_t last = k; // one past the last change
        for (std::size_t kept = 0; k < script.size() && kept <= 2 * context; ++k) {
            if (script[k].kind == op::keep) {
                ++kept;
            } else {
                kept = 0;
                last = k + 1;
            }
        }
        const std::size_t end = std::min(script.size(), last + context);
        put("@@ -" + range(old_at[first], old_at[end] - old_at[first]) + " +" +
            range(new_at[first], new_at[end] - new_at[first]) + " @@\n");
        for (std::size_t s = first; s < end; ++s)
            put_line(script[s].kind,
                     script[s].kind == op::add ? b[script[s].line] : a[script[s].line]);
        k = end;
    }
}
