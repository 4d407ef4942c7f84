// SPDX-License-Identifier: Apache-2.0
// Every absolute path the tool uses goes through here: where streams are
// emulated and LLC2_ROOT is set in the environment, its value is put in
// front, so tests and the demo run against a throw-away root. Unset, and
// always in a native build, paths are used as they stand.
#ifndef LLC2_PLATFORM_PATHS_H
#define LLC2_PLATFORM_PATHS_H

#include <cstddef>
#include <string>
#include <string_view>

// The value of LLC2_ROOT, or "" when unset or in a native build.
std::string_view llc2_root();

// Writes the root followed by path into buf (size bytes, NUL included).
// true on success; false, with buf holding "", when it does not fit.
bool rooted_path(char *buf, std::size_t size, std::string_view path);

// The same, as a string.
std::string rooted_path(std::string_view path);

#endif
