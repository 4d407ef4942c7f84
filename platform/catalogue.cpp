// SPDX-License-Identifier: Apache-2.0
#include "catalogue.h"

#ifdef LLC2_BUILD_LOCALEDIR
#include <unistd.h>

#include <array>
#include <string_view>
#endif

namespace
{

#ifdef LLC2_BUILD_LOCALEDIR
// Whether this program is the one the build made, inside its build tree.
// An installed copy is not, even while the build tree (or a directory made
// to look like it) is there: what it reads must come from where it was
// installed, never from a path any user may be able to create.
bool runs_from_build_tree()
{
    std::array<char, 4096> exe{};
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size())
        return false;
    const std::string_view self(exe.data(), static_cast<std::size_t>(n));
    constexpr std::string_view tree = LLC2_BUILD_TREE;
    return self.size() > tree.size() && self.starts_with(tree) && self[tree.size()] == '/';
}
#endif

} // namespace

const char *catalogue_dir()
{
#ifdef LLC2_BUILD_LOCALEDIR
    if (runs_from_build_tree())
        return LLC2_BUILD_LOCALEDIR;
#endif
    return LLC2_LOCALEDIR;
}
