# SPDX-License-Identifier: Apache-2.0
# 32-bit powerpc: int, long and pointers of 32 bits, big-endian.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(LLC2_CROSS_TRIPLE powerpc-linux-gnu)
set(LLC2_CROSS_QEMU qemu-ppc-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
