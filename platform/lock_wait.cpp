// SPDX-License-Identifier: Apache-2.0
#include "lock_wait.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

std::chrono::milliseconds lock_wait(std::chrono::milliseconds usual)
{
#if defined(LLC2_NATIVE_STREAMS)
    return usual;
#else
    const char *text = std::getenv("LLC2_LOCK_WAIT_MS");
    if (text == nullptr)
        return usual;
    const char *end = text + std::strlen(text);
    long value = 0;
    const auto [stop, ec] = std::from_chars(text, end, value, 10);
    // Anything else is a typo in a test, not a reason to stop waiting.
    constexpr long hour = 3'600'000;
    if (ec != std::errc() || stop != end || stop == text || value < 0 || value > hour)
        return usual;
    return std::chrono::milliseconds(value);
#endif
}
