// llc2conf create: writes one PPA's configuration file through the writer,
// after every argument has been checked; the writer checks it reads back.
#include "dlpi.h"
#include "init_params.h"
#include "llc2_names.h"
#include "llc2conf.h"
#include "path.h"
#include "ppa_number.h"
#include "write.h"

#include <sys/stat.h>

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
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

// Sets params from the keyword=value words. false after a message naming
// the first word that cannot be written as given.
bool parse_settings(int argc, char *const argv[], int *params)
{
    const std::array<settable, CONF_NPARAMS> keywords = settable_keywords();
    std::array<bool, CONF_NPARAMS> given{};
    for (int i = 0; i < argc; ++i) {
        const char *const equals = std::strchr(argv[i], '=');
        if (equals == nullptr) {
            std::fprintf(stderr, gettext("Not a keyword=value pair: %s\n"), argv[i]);
            return false;
        }
        const std::string name(argv[i], static_cast<std::size_t>(equals - argv[i]));
        const char *const text = equals + 1;
        const auto *key = std::find_if(keywords.begin(), keywords.end(),
                                       [&name](const settable &k) { return name == k.keyword; });
        if (key == keywords.end()) {
            std::fprintf(stderr, gettext("Unknown keyword: %s\n"), name.c_str());
            return false;
        }
        if (given.at(key->conf_index)) {
            std::fprintf(stderr, gettext("Keyword %s given twice\n"), name.c_str());
            return false;
        }
        given.at(key->conf_index) = true;
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
        params[key->conf_index] = static_cast<int>(value);
    }
    return true;
}

// A link name create_conf can split into a provider and an instance, whose
// provider reads back as written and names nothing outside /dev.
bool valid_linkname(const char *linkname, std::array<char, DLPI_LINKNAME_MAX> &provider,
                    unsigned int &instance)
{
    return dlpi_parselink(linkname, provider.data(), &instance) == DLPI_SUCCESS &&
           provider_name_ok(provider.data());
}

} // namespace

int conf_create(int argc, char *const argv[])
{
    bool force = false;
    int i = 0;
    // A negative PPA looks like an option; it is refused below with its
    // own message, as a number (even one beyond int), not taken for an
    // unknown option.
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() > 1 && std::isdigit(static_cast<unsigned char>(arg[1])) != 0)
            break;
        if (arg != "-f") {
            std::fprintf(stderr, gettext("Unknown option: %s\n"), argv[i]);
            return EXIT_USAGE;
        }
        force = true;
    }
    if (argc - i < 2)
        return EXIT_USAGE;
    int ppa = 0;
    if (!parse_ppa(argv[i], &ppa)) {
        std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), argv[i]);
        return EXIT_USAGE;
    }
    if (ppa < 0) {
        std::fprintf(stderr, gettext("PPA %d is negative: PPA numbers start at 0\n"), ppa);
        return EXIT_WRONG;
    }
    const char *linkname = argv[i + 1];
    std::array<char, DLPI_LINKNAME_MAX> provider{};
    unsigned int instance = 0;
    if (!valid_linkname(linkname, provider, instance)) {
        std::fprintf(stderr, gettext("Invalid link name: %s\n"), shown_name(linkname).c_str());
        return EXIT_WRONG;
    }
    // Unnamed settings are 0, which the driver takes as its default; a
    // file is for a PPA that is meant to come up.
    std::array<int, CONF_NPARAMS> params{};
    params[CONF_LLC2_ON] = 1;
    if (!parse_settings(argc - i - 2, argv + i + 2, params.data()))
        return EXIT_WRONG;

    conf_path_buf path;
    const bool have_path = conf_file_path(path, ppa);
    const auto exists = [&path]() {
        std::fprintf(stderr, gettext("%s exists; give -f to replace it\n"), path.data());
        return EXIT_WRONG;
    };
    struct stat st {
    };
    if (have_path && !force && lstat(path.data(), &st) == 0)
        return exists();
    if (ppa > PPA_SCAN_MAX) {
        std::fprintf(stderr,
                     gettext("Warning: PPA %d is above %d: llc2 -q and -U never reach it\n"), ppa,
                     PPA_SCAN_MAX);
    }
    if (make_conf_dir() != 0)
        return EXIT_WRONG;
    // Without -f, a file that appears after the look above is still not
    // replaced: of two creates of one PPA, one wins.
    switch (write_conf(linkname, ppa, params.data(),
                       force ? conf_write_mode::replace : conf_write_mode::keep)) {
    case conf_write_result::written:
        break;
    case conf_write_result::exists:
        return exists();
    case conf_write_result::failed:
        return EXIT_WRONG;
    }
    return 0;
}
