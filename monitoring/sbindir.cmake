# SPDX-License-Identifier: Apache-2.0
# Run by cmake --install with llc2_plugin (the installed check_llc2) and
# llc2_sbindir: writes the directory into the plugin's line installed=.
file(READ "${llc2_plugin}" text)
string(FIND "${text}" "\ninstalled='" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${llc2_plugin}: no line installed= to write the sbin directory into")
endif()
if(llc2_sbindir MATCHES "'")
  message(FATAL_ERROR "check_llc2: the sbin directory ${llc2_sbindir} holds a quote")
endif()
string(REGEX REPLACE "\ninstalled='[^\n]*\n" "\ninstalled='${llc2_sbindir}/llc2'\n" text "${text}")
file(WRITE "${llc2_plugin}" "${text}")
