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
    std::fprintf(stderr, "%s\n", conf_fault_text(ppa, report, errno).c_str());
    return -1;
}
