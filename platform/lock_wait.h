// SPDX-License-Identifier: Apache-2.0
// How long a program waits for a lock file another process holds.
#ifndef LLC2_PLATFORM_LOCK_WAIT_H
#define LLC2_PLATFORM_LOCK_WAIT_H

#include <chrono>

// usual; or, in a build with emulated streams, the whole number of
// milliseconds (0 to 3600000) that LLC2_LOCK_WAIT_MS holds, so that the tests
// need not sit out the real wait to see a run give up. A native build never
// reads the variable: no environment can make a real host give up sooner.
std::chrono::milliseconds lock_wait(std::chrono::milliseconds usual);

#endif
