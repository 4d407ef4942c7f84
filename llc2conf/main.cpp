// SPDX-License-Identifier: Apache-2.0
// The llc2conf command: picks the subcommand and turns its result into the
// exit status. Nothing here or below opens the driver.
#include "catalogue.h"
#include "config_dir.h"
#include "help.h"
#include "llc2conf.h"
#include "output.h"
#include "std_fds.h"

#include <libintl.h>

#include <clocale>
#include <cstdio>
#include <new>
#include <string_view>

namespace
{

void usage(const char *argv0)
{
    // An exec with an empty argument vector leaves argv[0] null.
    const char *name = argv0 != nullptr ? argv0 : "llc2conf";
    std::fprintf(
        stderr,
        gettext("Usage: %s [-D <dir>] create [-f] [-n] <ppa> <linkname> [keyword=value ...]\n"
                "       %s [-D <dir>] set [-n] <ppa> keyword=value ...\n"
                "       %s [-D <dir>] delete [-n] <ppa>\n"
                "       %s [-D <dir>] check [<ppa> ...]\n"
                "       %s [-D <dir>] show <ppa>\n"
                "       %s [-D <dir>] list [--json]\n"),
        name, name, name, name, name, name);
}

int llc2conf_main(int argc, char *argv[])
{
    prepare_output();
    std::setlocale(LC_ALL, "");
    textdomain(TEXT_DOMAIN);
    // A deliberate change from the platform default: the catalogues live
    // under our own prefix, which the default location need not be.
    bindtextdomain(TEXT_DOMAIN, catalogue_dir());
    int status = EXIT_USAGE;
    // The configuration directory comes before the command, once.
    int next = 1;
    const char *config_dir = nullptr;
    for (int taken = 1; next < argc && taken == 1; next += taken) {
        taken = take_config_dir(argc, argv, next, config_dir);
        if (taken < 0) {
            usage(argv[0]);
            return finish_output("llc2conf", EXIT_USAGE, EXIT_WRONG);
        }
    }
    if (next < argc) {
        const std::string_view command = argv[next];
        if (llc2conf_long_option(argv[next]) == 0)
            return finish_output("llc2conf", 0, EXIT_WRONG);
        const int left = argc - next - 1;
        char **rest = argv + next + 1;
        if (command == "create")
            status = conf_create(left, rest);
        else if (command == "set")
            status = conf_set(left, rest);
        else if (command == "delete")
            status = conf_delete(left, rest);
        else if (command == "check")
            status = conf_check(left, rest);
        else if (command == "show")
            status = conf_show(left, rest);
        else if (command == "list")
            status = conf_list(left, rest);
    }
    if (status == EXIT_USAGE)
        usage(argc > 0 ? argv[0] : nullptr);
    return finish_output("llc2conf", status, EXIT_WRONG);
}

// Set as the new-handler: a message and the usual failure status, never
// an abort.
void out_of_memory()
{
    out_of_memory_exit("llc2conf: out of memory\n", EXIT_WRONG);
}

} // namespace

int main(int argc, char *argv[])
{
    open_std_fds();
    std::set_new_handler(out_of_memory);
    return llc2conf_main(argc, argv);
}
