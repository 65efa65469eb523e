# SPDX-License-Identifier: MIT
# Cross build for the Raspberry Pi Zero and Pi 1 (ARM1176JZF-S: ARMv6KZ,
# VFPv2, hard-float calling convention) with Debian's arm-linux-gnueabihf
# toolchain. That toolchain targets ARMv7 and Thumb-2, down to the startup
# objects and libgcc it links in, so shipped binaries are linked without
# them and take the project's own ARM-mode runtime pieces instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv6l)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_ASM_COMPILER arm-linux-gnueabihf-gcc)

set(_armv6 "-mcpu=arm1176jzf-s -marm -mfpu=vfp -mfloat-abi=hard")
set(CMAKE_C_FLAGS_INIT "${_armv6}")
set(CMAKE_CXX_FLAGS_INIT "${_armv6}")
set(CMAKE_ASM_FLAGS_INIT "${_armv6}")

set(TAVREL_ARM_SYSROOT /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH ${TAVREL_ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No binfmt_misc here: tests run through qemu explicitly.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${TAVREL_ARM_SYSROOT})

set(TAVREL_ARMV6_RUNTIME ON)

# GNUInstallDirs gives Debian's multiarch directory only to native builds.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_INSTALL_LIBDIR lib/arm-linux-gnueabihf CACHE PATH "Object code libraries")
