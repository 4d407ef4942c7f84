// The llc2conf command: picks the subcommand and turns its result into the
// exit status. Nothing here or below opens the driver.
#include "catalogue.h"
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
    std::fprintf(stderr,
                 gettext("Usage: %s create [-f] [-n] <ppa> <linkname> [keyword=value ...]\n"
                         "       %s set [-n] <ppa> keyword=value ...\n"
                         "       %s delete [-n] <ppa>\n"
                         "       %s check [<ppa> ...]\n"
                         "       %s show <ppa>\n"
                         "       %s list [--json]\n"),
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
    if (argc >= 2) {
        const std::string_view command = argv[1];
        if (llc2conf_long_option(argv[1]) == 0)
            return finish_output("llc2conf", 0, EXIT_WRONG);
        if (command == "create")
            status = conf_create(argc - 2, argv + 2);
        else if (command == "set")
            status = conf_set(argc - 2, argv + 2);
        else if (command == "delete")
            status = conf_delete(argc - 2, argv + 2);
        else if (command == "check")
            status = conf_check(argc - 2, argv + 2);
        else if (command == "show")
            status = conf_show(argc - 2, argv + 2);
        else if (command == "list")
            status = conf_list(argc - 2, argv + 2);
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
