// SPDX-License-Identifier: Apache-2.0
// What create and set take from their command lines: the options before
// the operands, and keyword=value settings checked against what the driver
// receives as written.
#include "dlpi.h"
#include "init_params.h"
#include "llc2_names.h"
#include "llc2conf.h"
#include "ppa_number.h"

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace
{

// One keyword the command line may set, and the largest value the driver
// (or the tool) takes for it as written.
struct settable {
    const char *keyword;
    int conf_index;
    unsigned int max;
};

static_assert(CONF_SWITCHES.size() + INIT_PARAMS.size() == CONF_NPARAMS,
              "every numeric setting is a switch or goes to the driver");

std::array<settable, CONF_NPARAMS> settable_keywords()
{
    std::array<settable, CONF_NPARAMS> out{};
    std::size_t n = 0;
    for (const conf_switch &sw : CONF_SWITCHES)
        out.at(n++) = {*sw.keyword, sw.conf_index, 1};
    // ctl_init's fields are 16 bits wide: more would be cut.
    for (const init_param &param : INIT_PARAMS)
        out.at(n++) = {*param.keyword, param.conf_index, 0xffff};
    return out;
}

// A value of digits only, as the parser reads it back: no sign, no blanks,
// nothing after. Beyond what fits it is ULLONG_MAX, which every limit refuses.
bool parse_value(std::string_view text, unsigned long long &value)
{
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range)
        value = ULLONG_MAX;
    return true;
}

// The link=NAME of set: the device and instance together.
constexpr std::string_view link_keyword = "link";

} // namespace

bool valid_linkname(const char *linkname, conf_settings &s)
{
    static_assert(DLPI_LINKNAME_MAX <= LLC2_DEVNAME_SIZE, "a provider fits a device name");
    std::array<char, DLPI_LINKNAME_MAX> provider{};
    unsigned int instance = 0;
    if (dlpi_parselink(linkname, provider.data(), &instance) != DLPI_SUCCESS ||
        !provider_name_ok(provider.data()))
        return false;
    std::memcpy(s.provider.data(), provider.data(), provider.size());
    s.instance = instance;
    s.link_given = true;
    return true;
}

bool parse_settings(int argc, char *const argv[], bool allow_link, conf_settings &s)
{
    const std::array<settable, CONF_NPARAMS> keywords = settable_keywords();
    for (int i = 0; i < argc; ++i) {
        const char *const equals = std::strchr(argv[i], '=');
        if (equals == nullptr) {
            std::fprintf(stderr, gettext("Not a keyword=value pair: %s\n"), argv[i]);
            return false;
        }
        const std::string name(argv[i], static_cast<std::size_t>(equals - argv[i]));
        const char *const text = equals + 1;
        const auto twice = [&name]() {
            std::fprintf(stderr, gettext("Keyword %s given twice\n"), name.c_str());
            return false;
        };
        if (allow_link && name == link_keyword) {
            if (s.link_given)
                return twice();
            if (!valid_linkname(text, s)) {
                std::fprintf(stderr, gettext("Invalid link name: %s\n"), shown_name(text).c_str());
                return false;
            }
            continue;
        }
        const auto *key = std::find_if(keywords.begin(), keywords.end(),
                                       [&name](const settable &k) { return name == k.keyword; });
        if (key == keywords.end()) {
            std::fprintf(stderr, gettext("Unknown keyword: %s\n"), name.c_str());
            return false;
        }
        std::optional<int> &slot = s.params.at(key->conf_index);
        if (slot)
            return twice();
        unsigned long long value = 0;
        if (!parse_value(text, value)) {
            std::fprintf(
                stderr, gettext("Invalid value for %s: %s: a whole number from 0 up is expected\n"),
                name.c_str(), text);
            return false;
        }
        if (value > key->max) {
            if (key->max == 1)
                std::fprintf(stderr, gettext("Invalid value for %s: %s: 0 or 1 is expected\n"),
                             name.c_str(), text);
            else
                std::fprintf(stderr,
                             gettext("Value for %s too large: %s: the driver receives at most "
                                     "65535\n"),
                             name.c_str(), text);
            return false;
        }
        slot = static_cast<int>(value);
    }
    return true;
}

namespace
{

// A negative PPA looks like an option; it is an operand, as a number (even
// one beyond int) that is refused with its own message. So is a lone "-".
bool option_like(std::string_view word)
{
    return word.size() > 1 && word.front() == '-' &&
           std::isdigit(static_cast<unsigned char>(word[1])) == 0;
}

} // namespace

int parse_change_options(int argc, char *const argv[], bool allow_force, bool &force, bool &dry_run)
{
    int i = 0;
    for (; i < argc && option_like(argv[i]); ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "-n" || arg == "--dry-run") {
            dry_run = true;
        } else if (allow_force && arg == "-f") {
            force = true;
        } else {
            std::fprintf(stderr, gettext("Unknown option: %s\n"), argv[i]);
            return -1;
        }
    }
    // No operand looks like an option, "--" or not: one after the PPA was
    // meant as one, and taken as a setting it would be refused for the
    // wrong reason, or, with -n, do what the dry run was to keep from
    // happening.
    for (int k = i; k < argc; ++k) {
        if (option_like(argv[k])) {
            std::fprintf(stderr, gettext("Options go before the PPA: %s\n"), argv[k]);
            return -1;
        }
    }
    return i;
}

bool ppa_operand(const char *word, int &ppa, bool asked_only)
{
    if (parse_ppa(word, &ppa) && (!asked_only || (ppa >= 0 && ppa <= PPA_ASKED_MAX)))
        return true;
    std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), word);
    return false;
}
