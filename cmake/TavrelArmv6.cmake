# SPDX-License-Identifier: MIT
# tavrel_shipped_binary(TARGET): links TARGET as the project ships it.
# With the ARMv6 toolchain file, that is without Debian's Thumb-2 startup
# objects, libc_nonshared.a and libgcc, taking the C library as
# libc.so.6 itself (-lc would pull libc_nonshared.a back in).
function(tavrel_shipped_binary target)
  target_link_options(${target} PRIVATE -Wl,--as-needed)
  if(NOT TAVREL_ARMV6_RUNTIME)
    return()
  endif()
  target_link_options(${target} PRIVATE -nostdlib -Wl,-z,defs)
  target_link_libraries(${target} PRIVATE tavrel_armv6_rt -l:libc.so.6)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:tavrel_armv6_start>)
  endif()
endfunction()
