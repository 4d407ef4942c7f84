// SPDX-License-Identifier: Apache-2.0
// What llc2conf finds in a configuration file, told by file and line.
#include "llc2conf.h"

#include <libintl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

void finding_at(int ppa, int line)
{
    if (line > 0)
        std::fprintf(stderr, "llc2.%d:%d: ", ppa, line);
    else
        std::fprintf(stderr, "llc2.%d: ", ppa);
}

int parse_conf(std::FILE *fp, int ppa, conf_values &values, conf_report &report)
{
    report = conf_report{};
    errno = 0;
    if (read_conf_file_report(fp, values.devicename.data(), &values.instance, values.params.data(),
                              &report) == 0)
        return 0;
    std::fprintf(stderr, "%s\n", conf_fault_text(ppa, report, errno).c_str());
    return -1;
}

int nul_bytes(int ppa, std::FILE *fp)
{
    int found = 0;
    int line = 1;
    bool nul = false;
    bool comment = false;
    bool blank = true; // nothing but white space so far on this line
    std::rewind(fp);
    for (int c = std::getc(fp);; c = std::getc(fp)) {
        if (c == EOF || c == '\n') {
            if (nul && !comment) {
                finding_at(ppa, line);
                std::fputs(gettext("holds a NUL byte: llc2 reads the line only up to it\n"),
                           stderr);
                ++found;
            }
            if (c == EOF)
                break;
            ++line;
            nul = comment = false;
            blank = true;
        } else if (c == '\0') {
            nul = true;
            blank = false;
        } else if (blank && c == '#' && !nul) {
            comment = true;
            blank = false;
        } else if (c != ' ' && c != '\t') {
            blank = false;
        }
    }
    std::rewind(fp);
    return found;
}

void new_conf_warnings(int ppa, const std::string &text)
{
    std::string bytes = text;
    std::FILE *fp = fmemopen(bytes.data(), bytes.size(), "r");
    if (fp == nullptr)
        return; // a warning, not worth failing the write for
    conf_values v;
    conf_report report;
    if (read_conf_file_report(fp, v.devicename.data(), &v.instance, v.params.data(), &report) == 0)
        (void)conf_warnings(ppa, fp, &v, report);
    std::fclose(fp);
}
