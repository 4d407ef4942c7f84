# SPDX-License-Identifier: Apache-2.0
# Shared part of the cross toolchains: Debian's cross compiler for
# LLC2_CROSS_TRIPLE, its C library in /usr/<triple>, and the programs run
# under qemu-user. The target files set LLC2_CROSS_TRIPLE, LLC2_CROSS_QEMU and
# CMAKE_SYSTEM_PROCESSOR, then include this one.
#
# GoogleTest and nlohmann-json come from a prefix made for the target by
# scripts/cross, named by the cache variable LLC2_CROSS_DEPS (the presets set
# it). CMake's compiler checks re-read this file without it, and need none.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LLC2_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LLC2_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${LLC2_CROSS_TRIPLE})
if(LLC2_CROSS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${LLC2_CROSS_DEPS})
endif()
# Programs are the build machine's; libraries, headers and packages the
# target's only, so nothing of the build machine's /usr/include slips in.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test discovery runs the test programs; the programs they start (llc2,
# llc2sim) go through binfmt_misc, which scripts/cross checks.
set(CMAKE_CROSSCOMPILING_EMULATOR ${LLC2_CROSS_QEMU} -L /usr/${LLC2_CROSS_TRIPLE})
