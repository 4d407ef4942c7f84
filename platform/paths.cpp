// SPDX-License-Identifier: Apache-2.0
#include "paths.h"

#include <cstdlib>
#include <cstring>

std::string_view llc2_root()
{
#if defined(LLC2_NATIVE_STREAMS)
    // A host with the real driver: its /dev and /etc are the only ones. A
    // stray variable in root's environment must never boot it from
    // somewhere else, so the variable is not even looked at.
    return std::string_view("");
#else
    const char *root = std::getenv("LLC2_ROOT");
    // Never a null data pointer: callers hand it to memcpy even when empty.
    return root != nullptr ? std::string_view(root) : std::string_view("");
#endif
}

bool rooted_path(char *buf, std::size_t size, std::string_view path)
{
    if (size == 0)
        return false;
    const std::string_view root = llc2_root();
    if (root.size() + path.size() >= size) {
        buf[0] = '\0';
        return false;
    }
    std::memcpy(buf, root.data(), root.size());
    std::memcpy(buf + root.size(), path.data(), path.size());
    buf[root.size() + path.size()] = '\0';
    return true;
}

std::string rooted_path(std::string_view path)
{
    std::string out(llc2_root());
    out += path;
    return out;
}
