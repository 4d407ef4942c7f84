// llc2conf: writes, checks and shows the configuration files of the PPAs
// without touching the driver. One function per subcommand; each takes the
// words after the subcommand's name and returns the exit status.
#ifndef LLC2CONF_LLC2CONF_H
#define LLC2CONF_LLC2CONF_H

#include "llc2_conf.h"
#include "llc2_debug.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

// Exit statuses: 0 done and nothing wrong, 1 refused or something wrong
// found, 2 a command line we cannot act on (main prints the usage line).
inline constexpr int EXIT_WRONG = 1;
inline constexpr int EXIT_USAGE = 2;

// The highest PPA that llc2 -q and -U look at.
inline constexpr int PPA_SCAN_MAX = 63;

// The two settings that are switches: only 0 and 1 mean something.
struct conf_switch {
    const char *const *keyword;
    int conf_index;
};
inline constexpr std::array<conf_switch, 2> CONF_SWITCHES{{
    {&LLC2_ON, CONF_LLC2_ON},
    {&DEV_LOOPBACK, CONF_LOOPBACK},
}};

// A provider name that can only name a device node directly in /dev, as
// llc2 -p opens it: letters, digits, '_', '.' and '-', not "." or "..", no
// leading '-', and short enough for a link name. Everything real providers
// are called passes; a '/', a blank, a '#' or a '=' does not.
inline bool provider_name_ok(std::string_view name)
{
    constexpr std::size_t longest = 31; // a link name's provider part
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '-';
    };
    return !name.empty() && name.size() <= longest && name.front() != '-' && name != "." &&
           name != ".." && std::all_of(name.begin(), name.end(), allowed);
}

// read_conf_file, saying why a file falls short: the parser names a missing
// keyword only under debug, and telling the administrator why is what we
// are here for. The directory scan's debug traces are not wanted, so debug
// is raised for the parse alone.
inline int parse_conf(std::FILE *fp, char *devicename, int *instance, int *conf_params)
{
    const int saved = debug;
    debug = 1;
    const int result = read_conf_file(fp, devicename, instance, conf_params);
    debug = saved;
    return result;
}

// llc2conf create [-f] <ppa> <linkname> [keyword=value ...]
int conf_create(int argc, char *const argv[]);
// llc2conf check [<ppa> ...]
int conf_check(int argc, char *const argv[]);
// llc2conf show <ppa>
int conf_show(int argc, char *const argv[]);

#endif
