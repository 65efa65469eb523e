# Debian packages through CPack: for the development machine (amd64, with
# the simulated board), and for the board from the ARMv6 build (armhf).
# Configure with -DCMAKE_INSTALL_PREFIX=/usr for Debian's paths.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libtavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPIO register access for Raspberry Pi Zero and Pi 1")
set(CPACK_PACKAGE_DESCRIPTION
  "libtavrel maps /dev/gpiomem and drives the BCM2835 GPIO registers directly,\n\
with no system call per operation, and puts pin functions back at exit.\n\
Includes the tavrel-gpio_mode, tavrel-gpio_state and tavrel-gpio_pull tools,\n\
the C header, a CMake package and a pkg-config file.")
set(CPACK_PACKAGE_CONTACT "libtavrel maintainers <maintainers@libtavrel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
if(TAVREL_ARMV6_RUNTIME)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tavrel;tavrel;/")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tavrel;tavrel;/" "${CMAKE_BINARY_DIR};tavrel;sim;/")
endif()
include(CPack)
