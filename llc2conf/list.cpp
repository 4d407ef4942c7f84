// SPDX-License-Identifier: Apache-2.0
// llc2conf list: the configured PPAs, from the files alone, for programs
// that must know the configuration on a host where the driver may be absent.
#include "json.h"
#include "llc2_names.h"
#include "llc2_report.h"
#include "llc2conf.h"
#include "path.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// One PPA as a line: its link and switch, or why its file cannot be used.
std::string list_line(int ppa, bool read, const conf_values &v, const std::string &why)
{
    std::string line = "PPA " + std::to_string(ppa) + ": ";
    if (!read)
        return line + "unusable: " + shown_name(why) + "\n";
    return line + shown_name(v.devicename.data()) + std::to_string(v.instance) + ", llc2_on " +
           std::to_string(v.params[CONF_LLC2_ON]) + "\n";
}

// One PPA as a JSON object, with llc2 --json's keys and nulls for the same
// facts.
std::string list_object(int ppa, bool read, const conf_values &v, const std::string &why)
{
    json_object o;
    json_num(o, "ppa", ppa);
    if (read) {
        json_str(o, "device", v.devicename.data());
        json_num(o, "instance", v.instance);
        json_num(o, "llc2_on", v.params[CONF_LLC2_ON]);
        json_null(o, "error");
    } else {
        for (const char *key : {"device", "instance", "llc2_on"})
            json_null(o, key);
        json_str(o, "error", why);
    }
    return json_end(o);
}

} // namespace

int conf_list(int argc, char *const argv[])
{
    bool as_json = false;
    if (argc == 1 && std::string_view(argv[0]) == "--json")
        as_json = true;
    else if (argc != 0)
        return EXIT_USAGE;
    std::vector<int> ppas;
    // Nothing is written until the directory has been read whole: a reader
    // must not take half a list for the configuration.
    if (configured_ppas(ppas) != 0) {
        report_conf_dir_unread();
        return EXIT_WRONG;
    }
    std::string out = as_json ? "[" : "";
    const char *between = "";
    for (const int ppa : ppas) {
        conf_values v;
        std::string why;
        const bool read = read_conf_quiet(ppa, v, why) == 0;
        if (!as_json)
            out += list_line(ppa, read, v, why);
        else
            out += between + list_object(ppa, read, v, why);
        between = ",";
    }
    if (as_json) {
        // The directory read, as it was found: a program staging a copy of
        // the configuration learns where it is.
        conf_path_buf dir{};
        (void)conf_dir_path(dir); // it was read, so it fits
        json_object doc;
        json_raw(doc, "ppas", out + "]");
        json_str(doc, "directory", dir.data());
        out = json_end(doc) + "\n";
    }
    std::fputs(out.c_str(), stdout);
    return 0;
}
