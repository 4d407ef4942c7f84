// SPDX-License-Identifier: Apache-2.0
// The configured PPAs as numbers, and a PPA's file read without a word on
// standard error: for the callers that say in their own way what they found.
#include "llc2_conf.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <vector>

int configured_ppas(std::vector<int> &ppas)
{
    ppas.clear();
    const conf_walk_result walked = walk_conf_dir([&ppas](const conf_dir_entry &entry) {
        if (entry.kind == conf_dir_kind::ppa_file)
            ppas.push_back(entry.ppa);
    });
    if (walked == conf_walk_result::not_opened)
        return errno == ENOENT ? 0 : -1;
    const int err = errno;
    std::sort(ppas.begin(), ppas.end());
    if (walked == conf_walk_result::walked)
        return 0;
    errno = err;
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
