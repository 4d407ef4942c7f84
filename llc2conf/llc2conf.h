// SPDX-License-Identifier: Apache-2.0
// llc2conf: writes, checks and shows the configuration files of the PPAs
// without touching the driver. One function per subcommand; each takes the
// words after the subcommand's name and returns the exit status.
#ifndef LLC2CONF_LLC2CONF_H
#define LLC2CONF_LLC2CONF_H

#include "llc2_conf.h"
#include "write.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// Exit statuses: 0 done and nothing wrong, 1 refused or something wrong
// found, 2 a command line we cannot act on (main prints the usage line).
inline constexpr int EXIT_WRONG = 1;
inline constexpr int EXIT_USAGE = 2;

// The highest PPA that llc2 -q and -U look at.
inline constexpr int PPA_SCAN_MAX = 63;
// The highest PPA the driver can be asked about: GETPPA carries it in one
// byte. A file for any other number can be written but never told apart.
inline constexpr int PPA_ASKED_MAX = 255;

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

// The warnings about what llc2 reads otherwise than it is written: keyword
// lines it never reaches, a keyword given twice, a value that is no whole
// number, a line longer than the parser reads at once, a byte-order mark, a
// switched-on devicename with no node in /dev.
// v and report are what parse_conf gave; v is null when the file did not
// parse. Writes them on standard error and returns how many.
int conf_warnings(int ppa, std::FILE *fp, const conf_values *v, const conf_report &report);

// The warnings check would give of text as PPA ppa's file: for create and
// set, of the file they write (a switched-on device missing from /dev).
void new_conf_warnings(int ppa, const std::string &text);

// The settings a command line gives: keyword=value for the twelve numeric
// keywords and, where allowed, link=NAME for the device and instance.
struct conf_settings {
    std::array<std::optional<int>, CONF_NPARAMS> params;
    bool link_given = false;
    std::array<char, LLC2_DEVNAME_SIZE> provider{};
    unsigned int instance = 0;
};

// A link name the writer can split into a provider and an instance, whose
// provider reads back as written and names nothing outside /dev.
bool valid_linkname(const char *linkname, conf_settings &s);

// Reads the keyword=value words into s. false after a message naming the
// first word that cannot be written as given.
bool parse_settings(int argc, char *const argv[], bool allow_link, conf_settings &s);

// The options of create, set and delete, before the operands: -f where
// allow_force, -n or --dry-run, "--" to end them. A word among the operands
// that looks like an option (a '-' and no digit after it) is none of them:
// "llc2conf set 2 acktimer=3 -n" must neither change the file nor call -n a
// bad setting. The index of the
// first operand, or -1 (a usage error) after "Unknown option" or "Options
// go before the PPA".
int parse_change_options(int argc, char *const argv[], bool allow_force, bool &force,
                         bool &dry_run);

// The PPA operand of create, set and delete; false after "Invalid PPA
// number". With asked_only, only a PPA the driver can be asked about (0 to
// PPA_ASKED_MAX) is one; delete takes any, so that a file of another
// number can be removed.
bool ppa_operand(const char *word, int &ppa, bool asked_only);

// What is at a PPA's file name now.
struct conf_file_now {
    bool exists = false;    // something has the name
    bool regular = false;   // a regular file itself, not a link to one
    bool directory = false; // a directory, which neither rename nor unlink replaces
    std::string text;       // its bytes, when they could be read
    std::string unreadable; // why they could not, as open_conf says it; empty when they were
};

// Looks at the PPA's file without following a link for what it is, reading
// through one for its bytes as llc2 would open it. false after a message
// when the path does not fit.
bool look_at_conf(int ppa, conf_file_now &now);

// The lock of a change by create, set or delete, taken before the old file
// is read so that no other writer's change is lost, and held while lock
// lives; a dry run takes none. With make_dir (create), the configuration
// directory is made first, so that the lock has a place. false after a
// message.
bool lock_for_change(conf_lock &lock, bool dry_run, bool make_dir);

// The one way create, set and delete change a file: compare what is there
// with after (none: no file), then write after atomically (mode says whether
// an existing file may be replaced) or remove the file, or with dry_run print the change as
// a unified diff. Says "PPA <n>: created", "replaced", "deleted",
// "unchanged" or "absent" on standard output. A dry run that cannot read
// the old file shows no diff: it says why, then ends as the real run would,
// with the same status line or the same failure. The caller holds the
// directory's lock unless dry_run.
enum class change_result {
    unchanged, // nothing to do: the same file, or none to delete
    written,   // the new file is in place
    removed,   // the file is gone
    shown,     // a dry run said what it would do; nothing changed
    exists,    // mode create_new and a file appeared; nothing said
    failed,    // after a message
};
change_result change_conf(int ppa, const conf_file_now &now,
                          const std::optional<std::string> &after, conf_write_mode mode,
                          bool dry_run);

// True when the two texts are the same file, the Built line's time aside.
bool same_conf_text(std::string_view a, std::string_view b);

// Writes diff -u's account of the change from before to after (none: no
// file, shown as /dev/null) of the file at path to standard output, the
// Built line with the rest: what patch needs to make after from before;
// nothing when they are the same file (same_conf_text), which is not
// written.
void print_conf_diff(const std::optional<std::string> &before,
                     const std::optional<std::string> &after, const char *path);

// llc2conf create [-f] [-n] <ppa> <linkname> [keyword=value ...]
int conf_create(int argc, char *const argv[]);
// llc2conf set [-n] <ppa> keyword=value ...
int conf_set(int argc, char *const argv[]);
// llc2conf delete [-n] <ppa>
int conf_delete(int argc, char *const argv[]);
// llc2conf check [<ppa> ...]
int conf_check(int argc, char *const argv[]);
// llc2conf show <ppa>
int conf_show(int argc, char *const argv[]);
// llc2conf list [--json]
int conf_list(int argc, char *const argv[]);

#endif
