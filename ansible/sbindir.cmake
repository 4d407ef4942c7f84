# SPDX-License-Identifier: Apache-2.0
# Run by cmake --install with llc2_py (the installed module_utils/llc2.py)
# and llc2_sbindir: writes the directory into the file's SBINDIR line.
file(READ "${llc2_py}" text)
string(FIND "${text}" "\nSBINDIR = \"" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${llc2_py}: no SBINDIR line to write the sbin directory into")
endif()
string(REGEX REPLACE "\nSBINDIR = \"[^\n]*\n" "\nSBINDIR = \"${llc2_sbindir}\"\n" text "${text}")
file(WRITE "${llc2_py}" "${text}")
