# SPDX-License-Identifier: Apache-2.0
# The start-up script as a build makes it, for one backend. Included by the
# top-level CMakeLists.txt; run on its own, the tests make the script a build
# for another backend would make:
#   cmake -DIN=llc2.rc.in -DOUT=llc2.rc -DBACKEND=native -DSBINDIR=/usr/sbin -P rc_script.cmake

# llc2_rc_script(IN OUT BACKEND SBINDIR): OUT from IN, calling the llc2 in
# SBINDIR. A native llc2 never reads LLC2_ROOT, so neither does its script:
# a stray variable on a real host must not let stop pass over the driver.
function(llc2_rc_script in out backend sbindir)
  set(LLC2_SBINDIR ${sbindir})
  if(backend STREQUAL "native")
    set(LLC2_RC_DEVICE /dev/llc2)
  else()
    set(LLC2_RC_DEVICE [=[${LLC2_ROOT:-}/dev/llc2]=])
  endif()
  configure_file(${in} ${out} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(var IN ITEMS IN OUT BACKEND SBINDIR)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "rc_script.cmake: -D${var}=... is missing")
    endif()
  endforeach()
  llc2_rc_script(${IN} ${OUT} ${BACKEND} ${SBINDIR})
endif()
