// SPDX-License-Identifier: Apache-2.0
// What fsync was asked to sync, for tests that link llc2test_fsync_count:
// every fsync of the program, the libraries' included (-Wl,--wrap=fsync).
#ifndef LLC2_TEST_FSYNC_COUNT_H
#define LLC2_TEST_FSYNC_COUNT_H

namespace llc2test
{

// Synced files and directories since the last reset_fsyncs().
extern int synced_files;
extern int synced_dirs;

inline void reset_fsyncs()
{
    synced_files = synced_dirs = 0;
}

} // namespace llc2test

#endif
