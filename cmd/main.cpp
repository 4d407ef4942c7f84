// SPDX-License-Identifier: Apache-2.0
// The llc2 command: reads the options, runs one action and turns its result
// into the exit status.
#include "applied.h"
#include "catalogue.h"
#include "config_dir.h"
#include "control.h"
#include "help.h"
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_ops.h"
#include "llc2_report.h"
#include "long_actions.h"
#include "output.h"
#include "ppa_number.h"
#include "run_lock.h"
#include "std_fds.h"
#include "write_ahead.h"

#include <clocale>
#include <cstdio>
#include <libintl.h>
#include <new>
#include <string_view>
#include <vector>

namespace
{

// glibc's getopt permutes the arguments, so in "llc2 word -P" it would still
// find -P; the administrator meant the word to end the options, as it does
// on every System V host. A leading '+' is glibc's way of asking for that
// behaviour without touching the environment. Other C libraries already stop
// at the first operand, and some would take the '+' for an option letter, so
// it is added for glibc alone; the letters are the same everywhere.
#if defined(__GLIBC__)
constexpr const char *OPTIONS = "+PUdqp:u:i:r:D:";
#else
constexpr const char *OPTIONS = "PUdqp:u:i:r:D:";
#endif

// A command line we cannot act on. Distinct from the 255 of a failed action,
// so that start-up scripts can tell a typo from a driver that said no.
constexpr int EXIT_USAGE = 2;

void Usage(char *const argv[])
{
    // An exec with an empty argument vector leaves argv[0] null.
    const char *name = argv[0] != nullptr ? argv[0] : "llc2";
    std::fprintf(stderr, gettext("Usage: %s [-P|-U|-p <ppa>|-u <ppa>|-q]\n"), name);
}

int plumb_all()
{
    if (add_conf() == -1) {
        report_errno("Error opening LLC2 configuration files: %s\n");
        return -1;
    }
    if (debug > 0) {
        std::fputs("\nExisting config files found:\n", stderr);
        print_conf_entry();
        // The listing goes under its heading in a log that takes both
        // streams, not after every trace that follows.
        order_output();
    }
    return llc2_plumb_all();
}

int plumb_one(int ppa)
{
    FILE *fp = open_conf(ppa);
    if (fp == nullptr) {
        std::fprintf(stderr, gettext("Cannot open configuration files for PPA %d\n"), ppa);
        return -1;
    }
    control_stream ctl(llc2_open_control());
    if (ctl.fd < 0) {
        std::fclose(fp);
        return -1;
    }
    // plumb_ppa owns fp from here on, whatever it returns.
    prepared_record rec;
    bool all_recorded = true;
    if (plumb_ppa(fp, ppa, ctl.fd, &rec, &all_recorded) != plumb_outcome::plumbed) {
        std::fprintf(stderr, gettext("Cannot plumb PPA %d\n"), ppa);
        return -1;
    }
    // Initialise on a stream of its own, as -P does: the plumbing stream's
    // link state must not be what makes initialisation work.
    if (!reopen_control(ctl))
        return -1;
    if (llc2_init_ppa(ppa, ctl.fd, &rec, &all_recorded) == 0)
        return all_recorded ? 0 : -1;
    (void)llc2_unplumb_ppa(ppa, ctl.fd);
    return -1;
}

// -u and -r: what the change invalidates goes first, or nothing is sent.
int unplumb_one(int ppa)
{
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    prepared_record none;
    if (write_ahead(ppa, ppa_change::take_down, nullptr, none, nullptr) == ahead::refused)
        return -1;
    // Not asked whether it is up: the answers of uninitialising are not
    // looked at.
    return llc2_take_down_ppa(ppa, ctl.fd, false);
}

int uninit_one(int ppa)
{
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    prepared_record none;
    if (write_ahead(ppa, ppa_change::uninit, nullptr, none, nullptr) == ahead::refused)
        return -1;
    // The answers are not looked at; one that never came fails the run.
    return llc2_uninit_ppa(ppa, ctl.fd);
}

int init_one(int ppa)
{
    // The list is not needed here, but an unreadable configuration directory
    // is worth stopping for before the driver is touched.
    if (add_conf() == -1) {
        report_errno("Error opening LLC2 configuration files: %s\n");
        return -1;
    }
    const control_stream ctl(llc2_open_control());
    if (ctl.fd < 0)
        return -1;
    bool all_recorded = true;
    const int rc = llc2_init_ppa(ppa, ctl.fd, nullptr, &all_recorded);
    return all_recorded ? rc : -1;
}

// Whether the action changes the driver or the records, and so takes the
// run lock. The table and the other read-only actions take none: they may
// run beside anything, and must, for a monitor to see a run that hangs.
bool changes_driver(int action, const apply_options &apply)
{
    switch (action) {
    case 'P':
    case 'U':
    case 'p':
    case 'u':
    case 'r':
    case 'i':
        return true;
    case LONG_APPLY:
        return !apply.dry_run;
    default: // none, -q, --json, --status, --metrics
        return false;
    }
}

int act(int action, int ppa, const std::vector<int> &ppas, const apply_options &apply)
{
    switch (action) {
    case LONG_JSON:
        return llc2_json();
    case LONG_STATUS:
        return llc2_status(ppas);
    case LONG_METRICS:
        return llc2_metrics(ppas);
    case LONG_APPLY:
        return llc2_apply(apply);
    case 'P':
        return plumb_all();
    case 'U':
        return llc2_unplumb_all();
    case 'p':
        return plumb_one(ppa);
    case 'u':
        return unplumb_one(ppa);
    case 'r':
        return uninit_one(ppa);
    case 'i':
        return init_one(ppa);
    default: // none, or -q
        return llc2_query();
    }
}

int run(int action, int ppa, const std::vector<int> &ppas, const apply_options &apply)
{
    // Held until the action is done; taken before the first probe, so a run
    // that has to give up has sent nothing.
    file_lock lock;
    const bool changes = changes_driver(action, apply);
    if (changes && !take_run_lock(lock))
        return -1;
    const int rc = act(action, ppa, ppas, apply);
    // A driver that left a request unanswered may hold anything: an action
    // that was to change it cannot say it did its job, whatever step it was
    // (an -r whose answers are not looked at, a -U that cannot know that
    // everything went down, the probe that records a PPA just initialised).
    return changes && !driver_answering() ? -1 : rc;
}

// Set as the new-handler: a message and the usual failure status, never
// an abort.
void out_of_memory()
{
    out_of_memory_exit("llc2: out of memory\n", 255);
}

// --status's: a status that could not be learnt is "cannot tell", which
// the start-up script and monitors read as such, never a failure of llc2.
void out_of_memory_status()
{
    out_of_memory_exit("llc2: out of memory\n", STATUS_UNKNOWN);
}

int llc2_main(int argc, char *argv[])
{
    prepare_output();
    std::setlocale(LC_ALL, "");
    textdomain(TEXT_DOMAIN);
    // A deliberate change from the platform default: the catalogues live
    // under our own prefix, which the default location need not be.
    bindtextdomain(TEXT_DOMAIN, catalogue_dir());

    int action = 0;
    int ppa = 0;
    std::vector<int> ppas;
    apply_options apply;
    const char *config_dir = nullptr;
    for (;;) {
        // --help and --version count wherever getopt would read an option.
        if (optind < argc && llc2_long_option(argv[optind]) == 0)
            return finish_output("llc2", 0, -1);
        // So does --config-dir, -D's long form.
        if (optind < argc && std::string_view(argv[optind]).starts_with("--config-dir")) {
            if (take_config_dir(argc, argv, optind, config_dir) != 1) {
                Usage(argv);
                return EXIT_USAGE;
            }
            ++optind;
            continue;
        }
        // So do the long actions, which are actions like any other.
        if (const int long_action = optind < argc ? llc2_long_action(argv[optind]) : 0;
            long_action != 0) {
            if (action != 0 ||
                !take_long_operands(long_action, argc, argv, optind, ppas, apply, config_dir)) {
                Usage(argv);
                return EXIT_USAGE;
            }
            action = long_action;
            continue;
        }
        const int c = getopt(argc, argv, OPTIONS);
        if (c == -1)
            break;
        switch (c) {
        case 'd':
            ++debug;
            break;
        case 'D':
            if (!name_config_dir(optarg, config_dir)) {
                Usage(argv);
                return EXIT_USAGE;
            }
            break;
        case 'P':
        case 'U':
        case 'q':
            if (action != 0) {
                Usage(argv);
                return EXIT_USAGE;
            }
            action = c;
            break;
        case 'p':
        case 'u':
        case 'i':
        case 'r':
            if (action != 0) {
                Usage(argv);
                return EXIT_USAGE;
            }
            // Checked whole before anything is opened: "3x" or "" must not
            // quietly become some other PPA.
            if (!parse_ppa(optarg, &ppa)) {
                std::fprintf(stderr, gettext("Invalid PPA number: %s\n"), optarg);
                Usage(argv);
                return EXIT_USAGE;
            }
            action = c;
            break;
        default: // getopt has already said what was wrong
            Usage(argv);
            return EXIT_USAGE;
        }
    }
    // getopt stops at the first operand. "llc2 P", a dash forgotten in a
    // boot script, must not print the table and pass for success.
    if (optind < argc) {
        Usage(argv);
        return EXIT_USAGE;
    }
    // A directory named by mistake is no empty configuration: --apply
    // --prune would take every PPA down for it.
    if (config_dir != nullptr && !config_dir_exists(config_dir))
        return EXIT_USAGE;
    if (action == LONG_STATUS)
        std::set_new_handler(out_of_memory_status);
    return finish_output("llc2", run(action, ppa, ppas, apply),
                         action == LONG_STATUS ? STATUS_UNKNOWN : -1);
}

} // namespace

int main(int argc, char *argv[])
{
    open_std_fds();
    std::set_new_handler(out_of_memory);
    return llc2_main(argc, argv);
}
