// The configured PPAs as numbers, and a PPA's file read without a word on
// standard error: for the callers that say in their own way what they found.
#include "llc2_conf.h"
#include "path.h"
#include "text.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <vector>

int configured_ppas(std::vector<int> &ppas)
{
    ppas.clear();
    conf_path_buf dir_path;
    if (!conf_dir_path(dir_path))
        return -1;
    DIR *dir = opendir(dir_path.data());
    if (dir == nullptr)
        return errno == ENOENT ? 0 : -1;
    int failed = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (entry == nullptr) {
            failed = errno;
            break;
        }
        int ppa = 0;
        if (conf_entry_ppa(entry->d_name, &ppa))
            ppas.push_back(ppa);
    }
    if (closedir(dir) != 0 && failed == 0)
        failed = errno;
    std::sort(ppas.begin(), ppas.end());
    if (failed == 0)
        return 0;
    errno = failed;
    return -1;
}

std::string conf_fault_text(int ppa, const conf_report &report, int err)
{
    if (report.invalid_line > 0)
        return conf_text("llc2.%d:%d: ", ppa, report.invalid_line) +
               conf_text(gettext("invalid line: %s\n"), report.invalid_text.c_str());
    if (!report.missing.empty())
        return conf_text("llc2.%d: ", ppa) +
               conf_text(gettext("missing keywords: %s\n"), report.missing.c_str());
    // The file could not be rewound.
    return conf_text("llc2.%d: ", ppa) +
           conf_text(gettext("cannot be read: %s\n"), std::strerror(err));
}

int read_conf_quiet(int ppa, conf_values &v, std::string &why)
{
    why.clear();
    FILE *fp = open_conf_why(ppa, &why);
    if (fp == nullptr)
        return -1;
    conf_report report;
    errno = 0;
    const int rc =
        read_conf_file_report(fp, v.devicename.data(), &v.instance, v.params.data(), &report);
    const int err = errno;
    std::fclose(fp);
    if (rc == 0)
        return 0;
    why = conf_fault_text(ppa, report, err);
    return -1;
}
