// SPDX-License-Identifier: Apache-2.0
// llc2 and llc2conf --help and --version.
#include "help.h"

#include "llc2_report.h"

#include "config_dir.h"

#include <libintl.h>

#include <cstdio>
#include <cstring>

namespace
{

struct help_text {
    const char *name;
    const char *synopsis; // the following are catalogue texts
    const char *options;
    const char *statuses;
};

constexpr help_text llc2_help{
    "llc2",
    N_("Usage: llc2 [-d] [-D DIR] [-P | -U | -p PPA | -u PPA | -i PPA | -r PPA | -q]\n"
       "       llc2 [-d] [-D DIR] --json | --status [PPA ...] | --metrics [PPA ...]\n"
       "       llc2 [-d] [-D DIR] --apply [-n] [--json] [--prune] [PPA ...]\n"
       "       llc2 --help | --version\n"
       "Administers the PPAs of the llc2 STREAMS driver, one action a run.\n"),
    N_("\n"
       "  (none), -q  print the status table of every PPA from 0 to 63\n"
       "  -P          plumb and initialise every configured PPA (system start)\n"
       "  -U          uninitialise and unplumb every PPA the driver reports\n"
       "  -p PPA      plumb and initialise one PPA\n"
       "  -u PPA      uninitialise and unplumb one PPA\n"
       "  -i PPA      initialise one PPA that is already plumbed\n"
       "  -r PPA      uninitialise one PPA and leave it plumbed\n"
       "  --json      the status of every PPA held or configured, as JSON\n"
       "  --status    a line per PPA named (or held or configured): as configured?\n"
       "  --metrics   the same PPAs as Prometheus metrics, for node_exporter\n"
       "  --apply     bring the PPAs (or those named) to their configuration, only that\n"
       "    -n, --dry-run  with --apply: say what it would do; send nothing but probes\n"
       "    --prune   with --apply: also take down what is not switched on\n"
       "    --json    with --apply: what it did (or would do) as JSON\n"
       "  -d          debug traces on standard error; with -P, list the PPAs\n"
       "  -D DIR, --config-dir DIR\n"
       "              the configuration files in DIR, which must exist\n"
       "  --help      print this text\n"
       "  --version   print the name and version\n"),
    N_("\n"
       "Exit status:\n"
       "  0    the action succeeded\n"
       "  255  the action failed; standard error says why, and -d says more\n"
       "  2    usage error; nothing was opened\n"
       "  --status: 0 every PPA as configured, 3 one is not, 4 cannot tell\n"
       "  --metrics: 0 when written, also without a driver; 255 when not\n"),
};

constexpr help_text llc2conf_help{
    "llc2conf",
    N_("Usage: llc2conf [-D DIR] create [-f] [-n] PPA LINKNAME [KEYWORD=VALUE ...]\n"
       "       llc2conf [-D DIR] set [-n] PPA KEYWORD=VALUE ...\n"
       "       llc2conf [-D DIR] delete [-n] PPA\n"
       "       llc2conf [-D DIR] check [PPA ...]\n"
       "       llc2conf [-D DIR] show PPA\n"
       "       llc2conf [-D DIR] list [--json]\n"
       "       llc2conf --help | --version\n"
       "Writes, checks and shows the configuration files of the llc2 driver's\n"
       "PPAs; never opens the driver.\n"),
    N_("\n"
       "  create     write PPA's file for interface LINKNAME (such as xnic0)\n"
       "  -f         with create: replace the file if it exists\n"
       "  set        change some settings of PPA's file (link=LINKNAME too)\n"
       "  delete     remove PPA's file\n"
       "  -n, --dry-run  with create, set, delete: print the change as a\n"
       "             unified diff and the status line; write nothing\n"
       "  check      check the files llc2 -P would find, or the PPAs given\n"
       "  show       print the ten values llc2 -i would send for PPA\n"
       "  list       list the configured PPAs; --json for programs\n"
       "  -D DIR, --config-dir DIR\n"
       "             before the command: the configuration files in DIR\n"
       "  --help     print this text\n"
       "  --version  print the name and version\n"),
    N_("\n"
       "Exit status:\n"
       "  0    done (also when nothing had to change), nothing wrong\n"
       "  1    create, set or delete refused or failed, check found a fault,\n"
       "       show or list could not read\n"
       "  2    usage error; nothing was read or written\n"),
};

int long_option(const char *word, const help_text &help)
{
    if (std::strcmp(word, "--version") == 0) {
        std::printf("%s %s\n", help.name, LLC2_VERSION);
        return 0;
    }
    if (std::strcmp(word, "--help") != 0)
        return -1;
    std::fputs(gettext(help.synopsis), stdout);
    std::fputs(gettext(help.options), stdout);
    conf_path_buf dir{};
    (void)conf_dir_path(dir); // a cut path is still the place we would look
    std::printf(gettext("\nConfiguration directory: %s, with a file llc2.PPA for each PPA\n"),
                dir.data());
    std::fputs(gettext(help.statuses), stdout);
    return 0;
}

} // namespace

int llc2_long_option(const char *word)
{
    return long_option(word, llc2_help);
}

int llc2conf_long_option(const char *word)
{
    return long_option(word, llc2conf_help);
}
