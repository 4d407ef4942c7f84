// SPDX-License-Identifier: Apache-2.0
#include "errnames.h"

#include <array>
#include <cerrno>
#include <utility>

namespace
{

#define E(x)                                                                                       \
    std::pair<std::string_view, int>                                                               \
    {                                                                                              \
#x, x                                                                                      \
    }
// The errnos a driver or a stream head can plausibly answer with.
constexpr std::array names{
    E(EPERM),    E(ENOENT),      E(ESRCH),      E(EINTR),      E(EIO),          E(ENXIO),
    E(E2BIG),    E(EBADF),       E(EAGAIN),     E(ENOMEM),     E(EACCES),       E(EFAULT),
    E(EBUSY),    E(EEXIST),      E(ENODEV),     E(ENOTDIR),    E(EISDIR),       E(EINVAL),
    E(ENFILE),   E(EMFILE),      E(ENOTTY),     E(EFBIG),      E(ENOSPC),       E(EROFS),
    E(EPIPE),    E(EDOM),        E(ERANGE),     E(EDEADLK),    E(ENAMETOOLONG), E(ENOLCK),
    E(ENOSYS),   E(ENOSTR),      E(ENODATA),    E(ETIME),      E(ENOSR),        E(ENOLINK),
    E(EPROTO),   E(EBADMSG),     E(EOVERFLOW),  E(EOPNOTSUPP), E(ENOTSOCK),     E(EADDRINUSE),
    E(ENETDOWN), E(ENETUNREACH), E(ECONNRESET), E(ETIMEDOUT),  E(ECONNREFUSED), E(EHOSTUNREACH),
    E(EALREADY), E(EINPROGRESS), E(ECANCELED),  E(ENOTSUP),    E(EWOULDBLOCK),
};
#undef E

} // namespace

std::optional<int> errno_from_name(std::string_view name)
{
    for (const auto &[n, v] : names)
        if (n == name)
            return v;
    return std::nullopt;
}

std::string errno_name(int err)
{
    // Aliases (EWOULDBLOCK, ENOTSUP) come after the names they share a value
    // with, so the first match is the usual name.
    for (const auto &[n, v] : names)
        if (v == err)
            return std::string(n);
    return std::to_string(err);
}
