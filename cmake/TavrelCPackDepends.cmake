# SPDX-License-Identifier: MIT
# Run by cpack: sets each package's Depends from what its binaries need.
# A libc6 dependency at the newest GLIBC_ symbol version they reference;
# libtavrel1 at this release for a binary linked to the library. A binary
# needing any other shared library stops the packaging, since its
# package could not state it.
cmake_policy(SET CMP0057 NEW)
include(${CPACK_TAVREL_FILES})

set(glibc_libraries libc.so.6 libm.so.6 libdl.so.2 libpthread.so.0 librt.so.1
  ld-linux-x86-64.so.2 ld-linux-armhf.so.3 ld-linux-aarch64.so.1)

foreach(component ${TAVREL_COMPONENTS})
  if(NOT DEFINED TAVREL_ELF_${component})
    continue()
  endif()
  set(glibc "")
  set(depends "")
  foreach(elf ${TAVREL_ELF_${component}})
    execute_process(COMMAND ${TAVREL_READELF} --wide --dynamic --version-info ${elf}
      OUTPUT_VARIABLE info RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot read ${elf}")
    endif()
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" needed "${info}")
    foreach(entry ${needed})
      string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" lib "${entry}")
      if(lib STREQUAL "libtavrel.so.1")
        set(depends "libtavrel1 (>= ${TAVREL_VERSION})")
      elseif(NOT lib IN_LIST glibc_libraries)
        message(FATAL_ERROR "${elf} needs ${lib}, which no Depends of ${component} names")
      endif()
    endforeach()
    # Only the version-needs section: the library's own definitions
    # (TAVREL_1, TAVREL_1.1) are in another.
    string(FIND "${info}" "Version needs section" at)
    if(at GREATER -1)
      string(SUBSTRING "${info}" ${at} -1 needs)
      string(REGEX MATCHALL "Name: GLIBC_[0-9.]+" names "${needs}")
      foreach(name ${names})
        string(REGEX REPLACE "Name: GLIBC_" "" v "${name}")
        if(glibc STREQUAL "" OR v VERSION_GREATER glibc)
          set(glibc ${v})
        endif()
      endforeach()
    endif()
  endforeach()
  if(glibc STREQUAL "")
    message(FATAL_ERROR "no GLIBC_ version reference in the binaries of ${component}")
  endif()
  string(TOUPPER ${component} c)
  list(PREPEND depends "libc6 (>= ${glibc})")
  list(JOIN depends ", " depends)
  set(CPACK_DEBIAN_${c}_PACKAGE_DEPENDS "${depends}")
endforeach()
