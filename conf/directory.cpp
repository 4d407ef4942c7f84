// The configuration directory: open_conf, the scan add_conf that fills
// conf_head, and the debug listing print_conf_entry.
#include "llc2_conf.h"
#include "llc2_debug.h"
#include "llc2_report.h"
#include "path.h"

#include <dirent.h>
#include <libintl.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

conf_entry *conf_head = nullptr;

namespace
{

// The PPA number of a directory entry named "llc2.<number>", read the way
// "%d" would read it after "llc2." (leading white space and a sign allowed,
// anything after the digits ignored, so "llc2.3.bak" is PPA 3). A number
// beyond the range of int makes no configuration file; neither does a name
// with no digits there.
bool entry_ppa(const char *name, int &ppa)
{
    constexpr char prefix[] = "llc2.";
    if (std::strncmp(name, prefix, sizeof prefix - 1) != 0)
        return false;
    const char *p = name + sizeof prefix - 1;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    // Accumulate towards the negative side, which holds one more value.
    int value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        const int digit = *p - '0';
        if (value < (INT_MIN + digit) / 10)
            return false;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == INT_MIN)
            return false;
        value = -value;
    }
    ppa = value;
    return true;
}

// readdir, telling the end of the directory from a failure to read it.
const dirent *next_entry(DIR *dir, int &failed_errno)
{
    errno = 0;
    const dirent *entry = readdir(dir);
    if (entry == nullptr && errno != 0)
        failed_errno = errno;
    return entry;
}

} // namespace

FILE *open_conf(int ppa)
{
    conf_path_buf path;
    FILE *fp = conf_file_path(path, ppa) ? std::fopen(path.data(), "r") : nullptr;
    // The caller reports errno too; report_errno leaves it as it was.
    if (fp == nullptr)
        report_errno("Cannot open %s: %s\n", path.data());
    return fp;
}

int add_conf(void)
{
    conf_path_buf dir_path;
    DIR *dir = conf_dir_path(dir_path) ? opendir(dir_path.data()) : nullptr;
    if (dir == nullptr) {
        report_errno("Cannot open default directory: %s\n");
        return -1;
    }

    // Failures are kept here, not read back from errno: calls that succeed
    // may still change errno on the way.
    int failed_errno = 0;
    while (const dirent *entry = next_entry(dir, failed_errno)) {
        int ppa = 0;
        if (!entry_ppa(entry->d_name, ppa))
            continue;
        // The path comes from the number, not from the entry's name.
        FILE *fp = open_conf(ppa);
        if (fp == nullptr) {
            failed_errno = errno;
            continue;
        }
        auto *node = new (std::nothrow) conf_entry;
        if (node == nullptr) {
            // Not listed and not a failure; the stream has no other owner.
            std::fclose(fp);
            continue;
        }
        node->ppa = ppa;
        node->fp = fp;
        node->next = conf_head;
        conf_head = node;
    }
    if (closedir(dir) != 0)
        failed_errno = errno;

    if (failed_errno == 0) {
        errno = 0;
        return 0;
    }
    if (debug > 0)
        std::fprintf(stderr, "readdir() error: %s\n", std::strerror(failed_errno));
    // Left for the front end's own message.
    errno = failed_errno;
    return -1;
}

void print_conf_entry(void)
{
    std::array<char, LLC2_DEVNAME_SIZE> devicename{};
    std::array<int, CONF_NPARAMS> params{};
    int instance = 0;
    for (const conf_entry *node = conf_head; node != nullptr; node = node->next) {
        if (read_conf_file(node->fp, devicename.data(), &instance, params.data()) == -1) {
            std::fputs(gettext("Error in file\n"), stderr);
            return;
        }
        std::printf("Device: %s, instance: %d, PPA %d\n", devicename.data(), instance, node->ppa);
    }
}
