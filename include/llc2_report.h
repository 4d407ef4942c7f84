// SPDX-License-Identifier: Apache-2.0
// Messages that end in the system's reason for a failed call.
#ifndef LLC2_REPORT_H
#define LLC2_REPORT_H

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libintl.h>

// Marks a catalogue text for xgettext where it is defined; it is translated
// where it is printed.
constexpr const char *N_(const char *msgid) noexcept
{
    return msgid;
}

// Writes the catalogue text of msgid to standard error with args, then
// strerror of the errno the failed call left, for msgid's last "%s". errno is
// read before anything else here runs (gettext may change it) and is left as
// it was found; the other arguments are plain values, evaluated before the
// call. msgid is one of this program's own literals, never outside text.
template <std::size_t N, typename... Args> void report_errno(const char (&msgid)[N], Args... args)
{
    const int err = errno;
    const char *format = gettext(msgid);
    std::fprintf(stderr, format, args..., std::strerror(err));
    errno = err;
}

#endif
