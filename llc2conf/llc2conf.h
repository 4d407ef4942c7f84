// llc2conf: writes, checks and shows the configuration files of the PPAs
// without touching the driver. One function per subcommand; each takes the
// words after the subcommand's name and returns the exit status.
#ifndef LLC2CONF_LLC2CONF_H
#define LLC2CONF_LLC2CONF_H

#include "llc2_conf.h"

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

// Starts a finding about PPA's file on standard error: "llc2.3: ", or
// "llc2.3:7: " when line is not 0. The directory is the one configuration
// directory, which --help and "No PPA is configured in" name.
void finding_at(int ppa, int line);

// read_conf_file as llc2conf reports it: the file's own line for an invalid
// one ("llc2.3:7: invalid line: acktimer=x2") and every keyword missing
// ("llc2.3: missing keywords: polltimer maxretry"), which llc2 says only
// as "Invalid line: ..." and, under -d, "Cannot find all required keywords.".
// 0, or -1 after the finding. report tells where each value was read.
int parse_conf(std::FILE *fp, int ppa, conf_values &values, conf_report &report);

// Reports each line of fp that holds a NUL byte, comment lines aside: the
// parser reads a line only up to it, so "devicename=xn\0ic0" quietly names
// xn. fp is rewound before and after. Returns how many it reported.
int nul_bytes(int ppa, std::FILE *fp);

// llc2conf create [-f] <ppa> <linkname> [keyword=value ...]
int conf_create(int argc, char *const argv[]);
// llc2conf check [<ppa> ...]
int conf_check(int argc, char *const argv[]);
// llc2conf show <ppa>
int conf_show(int argc, char *const argv[]);

#endif
