# SPDX-License-Identifier: Apache-2.0
# sparc64: 64-bit, big-endian, and a misaligned load is SIGBUS (qemu-user
# enforces it as the hardware does).
set(CMAKE_SYSTEM_PROCESSOR sparc64)
set(LLC2_CROSS_TRIPLE sparc64-linux-gnu)
set(LLC2_CROSS_QEMU qemu-sparc64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
