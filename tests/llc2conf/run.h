// Runs of the built llc2conf on a throw-away root, and what its tests share.
#ifndef LLC2_TESTS_LLC2CONF_RUN_H
#define LLC2_TESTS_LLC2CONF_RUN_H

#include "sim_fixture.h"

#include <string>
#include <string_view>
#include <vector>

namespace conftool
{

inline llc2test::Run run(const llc2test::SimRoot &r, std::vector<std::string> args)
{
    args.insert(args.begin(), LLC2CONF_BINARY);
    return llc2test::run_program(args, {"LLC2_ROOT=" + r.root(), "LC_ALL=C"}, 30);
}

inline std::string usage()
{
    const std::string name = LLC2CONF_BINARY;
    const std::string more = "\n       " + name;
    return "Usage: " + name + " create [-f] [-n] <ppa> <linkname> [keyword=value ...]" + more +
           " set [-n] <ppa> keyword=value ..." + more + " delete [-n] <ppa>" + more +
           " check [<ppa> ...]" + more + " show <ppa>\n";
}

// text with the line "from" (a whole line, newline excluded) replaced by "to".
inline std::string with_line(std::string text, std::string_view from, std::string_view to)
{
    const std::string line = "\n" + std::string(from) + "\n";
    const std::size_t at = text.find(line);
    if (at != std::string::npos)
        text.replace(at + 1, from.size(), to);
    return text;
}

} // namespace conftool

#endif
