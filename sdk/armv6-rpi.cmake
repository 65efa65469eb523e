# SPDX-License-Identifier: MIT
# CMake toolchain file for applications on the Raspberry Pi Zero and Pi 1
# (ARM1176JZF-S: ARMv6KZ, ARM state, VFPv2, hard-float), from the
# tavrel-armv6-sdk package:
#   cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=/usr/share/tavrel/armv6-rpi.cmake
# The compilers are the SDK's drivers, which link the ARM-mode runtime in
# place of Debian's Thumb-2 startup objects and libgcc; find_package(tavrel)
# finds the armhf libtavrel in the SDK's sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv6l)

get_filename_component(_tavrel_prefix "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(CMAKE_C_COMPILER ${_tavrel_prefix}/bin/tavrel-armv6-cc)
set(CMAKE_CXX_COMPILER ${_tavrel_prefix}/bin/tavrel-armv6-c++)
set(CMAKE_ASM_COMPILER ${_tavrel_prefix}/bin/tavrel-armv6-cc)
# The drivers' names say nothing of the binutils to use.
foreach(_tool ar ranlib strip nm objcopy objdump readelf ld)
  string(TOUPPER ${_tool} _var)
  set(CMAKE_${_var} /usr/bin/arm-linux-gnueabihf-${_tool})
endforeach()
set(CMAKE_LINKER /usr/bin/arm-linux-gnueabihf-ld)

set(CMAKE_FIND_ROOT_PATH ${_tavrel_prefix}/lib/tavrel-armv6-sdk/sysroot /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# try_run and ctest through qemu-user where it is installed. That runs
# against Debian's ARMv7 C library: proof of behaviour, not of ARMv6.
find_program(_tavrel_qemu qemu-arm)
if(_tavrel_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_tavrel_qemu} -L /usr/arm-linux-gnueabihf)
endif()
