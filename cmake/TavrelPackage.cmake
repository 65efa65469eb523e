# SPDX-License-Identifier: MIT
# Debian packages through CPack, one per install component (see
# TavrelInstall.cmake): amd64 ones from a host build, armhf ones from the
# ARMv6 build.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# The SDK is for the development machine, not the board: only
# scripts/sdk-package.sh asks for it.
set(CPACK_COMPONENTS_ALL ${TAVREL_COMPONENTS})
list(REMOVE_ITEM CPACK_COMPONENTS_ALL sdk)
set(CPACK_PACKAGE_NAME tavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package has a summary of its own: CPack would put any summary but
# its default one before each component's description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_CONTACT "${TAVREL_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
if(TAVREL_ARMV6_RUNTIME)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
elseif(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
  # CPack would name the build machine's architecture.
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()

set(summary_runtime "GPIO register access for Raspberry Pi Zero and Pi 1")
set(summary_dev "GPIO register access for Raspberry Pi Zero and Pi 1 - development files")
set(summary_tools "GPIO register access for Raspberry Pi Zero and Pi 1 - command-line tools")
set(summary_sim "simulated BCM2835 GPIO board for testing libtavrel programs")
set(about
  "libtavrel maps /dev/gpiomem and drives the BCM2835 GPIO registers directly,\n\
with no system call per operation, and puts pin functions back at exit.")
set(detail_runtime "${about}\n\nThis package holds the shared library.")
set(detail_dev "${about}\n\nThis package holds the C header, a CMake package and a pkg-config file.")
set(detail_tools "${about}\n\nThis package holds tavrel-gpio_mode, tavrel-gpio_state,\ntavrel-gpio_pull and tavrel-gpio_wait.")
set(detail_sim
  "tavrel-sim runs a program that uses libtavrel against a model of the\n\
BCM2835 GPIO block instead of /dev/gpiomem, with no root and no board. It\n\
traces register accesses, drives inputs on a schedule, and writes\n\
waveforms as Value Change Dumps. A C API (tavrel_simboard.h, pkg-config\n\
tavrel-sim, CMake tavrel::sim) lets a program's own tests drive its inputs\n\
and watch its outputs while it runs.")
set(section_runtime libs)
set(section_dev libdevel)
set(section_tools electronics)
set(section_sim devel)
set(section_pizero devel)
set(summary_pizero "virtual Raspberry Pi Zero running programs that use libtavrel")
set(detail_pizero
  "tavrel-pizero boots QEMU's raspi0 machine, an ARM1176 with QEMU's model of\n\
the BCM2835 GPIO block, with Debian's rpi kernel and this release of\n\
libtavrel and its tools, and runs an ARMv6 program there: a binary that\n\
would die of an illegal instruction on a Pi Zero does so here too. Its C\n\
library is glibc, as on Raspberry Pi OS, built for the ARM1176 from\n\
Debian's source. The kernel and busybox are fetched from Debian's archive\n\
on first use.")
set(CPACK_DEBIAN_PIZERO_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PIZERO_PACKAGE_DEPENDS "qemu-system-arm, cpio, apt, binutils")
set(section_python python)
set(summary_python "GPIO register access for Raspberry Pi Zero and Pi 1 - Python module")
set(detail_python "${about}\n\nThis package holds the tavrel Python module, over the shared library\n\
through ctypes, and a gpiozero pin factory on it: GPIOZERO_PIN_FACTORY=tavrel.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libtavrel1 (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_ENHANCES "python3-gpiozero")
set(section_sdk devel)
set(summary_sdk "toolchain for Raspberry Pi Zero and Pi 1 programs using libtavrel")
set(detail_sdk
  "Debian's arm-linux-gnueabihf compilers produce ARMv7 Thumb-2 code down to\n\
their startup objects and libgcc, which the ARM1176 of a Pi Zero cannot\n\
run. This package holds a CMake toolchain file, compiler drivers\n\
(tavrel-armv6-cc, tavrel-armv6-c++) linking an ARM-mode runtime instead,\n\
a sysroot with the armhf libtavrel, and tavrel-armv6-check, which proves\n\
a binary holds only ARMv6KZ, ARM-state, VFPv2 hard-float code.")
if(TAVREL_ARMV6_RUNTIME)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE host_arch
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT host_arch)
    set(host_arch amd64)
  endif()
  set(CPACK_DEBIAN_SDK_PACKAGE_ARCHITECTURE ${host_arch})
  set(CPACK_DEBIAN_SDK_PACKAGE_DEPENDS
    "gcc-arm-linux-gnueabihf, g++-arm-linux-gnueabihf, binutils-arm-linux-gnueabihf, libc6-dev-armhf-cross")
  set(CPACK_DEBIAN_SDK_PACKAGE_RECOMMENDS "pkgconf, cmake, qemu-user")
  set(CPACK_DEBIAN_SDK_PACKAGE_SUGGESTS "tavrel-pizero (= ${PROJECT_VERSION})")
endif()

# The library's shlibs entry: a program linked to it needs at least this
# release, as symbols of TAVREL_1.1 may be bound.
configure_file(cmake/debian/shlibs.in debian/shlibs @ONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  "${PROJECT_BINARY_DIR}/debian/shlibs;${PROJECT_SOURCE_DIR}/cmake/debian/triggers")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtavrel1 (= ${PROJECT_VERSION})")

foreach(component ${TAVREL_COMPONENTS})
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${TAVREL_PACKAGE_${component}})
  set(CPACK_DEBIAN_${c}_PACKAGE_SECTION ${section_${component}})
  set(CPACK_DEBIAN_${c}_DESCRIPTION "${summary_${component}}\n${detail_${component}}")
endforeach()

# The C library each package needs is read from the binaries' version
# references when cpack runs (TavrelCPackDepends.cmake): CPack's own
# dpkg-shlibdeps step would add ldconfig calls to maintainer scripts, and
# silently gives no Depends where dpkg-dev is missing.
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/TavrelCPackFiles.cmake CONTENT
"set(TAVREL_READELF \"${CMAKE_READELF}\")
set(TAVREL_VERSION \"${PROJECT_VERSION}\")
set(TAVREL_ELF_runtime \"$<TARGET_FILE:tavrel>\")
set(TAVREL_ELF_tools \"$<TARGET_FILE:tavrel-gpio_mode>;$<TARGET_FILE:tavrel-gpio_state>;$<TARGET_FILE:tavrel-gpio_pull>;$<TARGET_FILE:tavrel-gpio_wait>\")
set(TAVREL_ELF_sim \"$<TARGET_FILE:tavrel-sim>;$<TARGET_FILE:tavrel-sim-shim>\")
set(TAVREL_COMPONENTS \"${TAVREL_COMPONENTS}\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/TavrelCPackDepends.cmake)
set(CPACK_TAVREL_FILES ${PROJECT_BINARY_DIR}/TavrelCPackFiles.cmake)
include(CPack)
