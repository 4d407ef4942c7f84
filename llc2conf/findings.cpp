// What llc2conf finds in a configuration file, told by file and line.
#include "llc2conf.h"

#include <libintl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
    if (report.invalid_line > 0) {
        finding_at(ppa, report.invalid_line);
        std::fprintf(stderr, gettext("invalid line: %s\n"), report.invalid_text.c_str());
    } else if (!report.missing.empty()) {
        finding_at(ppa, 0);
        std::fprintf(stderr, gettext("missing keywords: %s\n"), report.missing.c_str());
    } else {
        // The file could not be rewound.
        finding_at(ppa, 0);
        std::fprintf(stderr, gettext("cannot be read: %s\n"), std::strerror(errno));
    }
    return -1;
}
