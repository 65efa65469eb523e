# SPDX-License-Identifier: MIT
# What installs where, by component; each component is one Debian package:
#   runtime  libtavrel1     the shared library and the version file
#   dev      libtavrel-dev  header, libtavrel.so link, pkg-config, CMake files
#   tools    tavrel-tools   the command-line tools and their man pages
#   sim      tavrel-sim     the simulated board (development machines only)
#   pizero   tavrel-pizero  the virtual Pi Zero with the release (from the
#                           ARMv6 build; architecture all, for any machine)
#   python   python3-tavrel the Python module and gpiozero pin factory
#                           (architecture all; from the host build)
#   sdk      tavrel-armv6-sdk  what users build their own ARMv6 programs
#                           with (from the ARMv6 build, for the development
#                           machine's architecture; scripts/sdk-package.sh)
set(TAVREL_PACKAGE_runtime libtavrel1)
set(TAVREL_PACKAGE_dev libtavrel-dev)
set(TAVREL_PACKAGE_tools tavrel-tools)
set(TAVREL_PACKAGE_sim tavrel-sim)
set(TAVREL_PACKAGE_pizero tavrel-pizero)
set(TAVREL_PACKAGE_sdk tavrel-armv6-sdk)
set(TAVREL_PACKAGE_python python3-tavrel)
set(TAVREL_COMPONENTS runtime dev tools)
if(NOT TAVREL_ARMV6_RUNTIME)
  list(APPEND TAVREL_COMPONENTS sim python)
else()
  list(APPEND TAVREL_COMPONENTS pizero sdk)
endif()

install(TARGETS tavrel EXPORT tavrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The path the library reads; fixed, whatever the prefix.
install(FILES ${PROJECT_BINARY_DIR}/VERSION DESTINATION /opt/tavrel COMPONENT runtime)
install(FILES ${PROJECT_BINARY_DIR}/include/tavrel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull tavrel-gpio_wait
  DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# The shim is preloaded by path, never linked: a private directory keeps
# it off the loader's search path.
install(TARGETS tavrel-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
install(TARGETS tavrel-sim-shim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tavrel-sim COMPONENT sim)
if(NOT TAVREL_ARMV6_RUNTIME)
  # The board's API for users' tests: find_package(tavrel-sim), tavrel::sim.
  install(TARGETS tavrel-simboard EXPORT tavrel-simTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim)
  install(FILES sim/api/include/tavrel_simboard.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sim)
  install(FILES ${PROJECT_BINARY_DIR}/share/tavrel-sim/function.txt ${PROJECT_BINARY_DIR}/share/tavrel-sim/pull.txt
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrel-sim COMPONENT sim)
  install(EXPORT tavrel-simTargets NAMESPACE tavrel:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrel-sim
    COMPONENT sim)
  include(CMakePackageConfigHelpers)
  configure_package_config_file(cmake/tavrel-simConfig.cmake.in tavrel-simConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrel-sim)
  write_basic_package_version_file(tavrel-simConfigVersion.cmake COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/tavrel-simConfig.cmake ${PROJECT_BINARY_DIR}/tavrel-simConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tavrel-sim COMPONENT sim)
  configure_file(sim/api/tavrel-sim.pc.in tavrel-sim.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tavrel-sim.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sim)
endif()

# The virtual Pi Zero: its command, its ARMv6 pieces, and a root holding
# the release's library, tools and version file as the packages install them.
if(TAVREL_ARMV6_RUNTIME)
  set(pz lib/tavrel-pizero)
  tavrel_versioned_script(${PROJECT_SOURCE_DIR}/pizero/tavrel-pizero.sh ${PROJECT_BINARY_DIR}/pizero/tavrel-pizero)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/pizero/tavrel-pizero DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT pizero)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/pizero/glibc-root/ DESTINATION ${pz}/root USE_SOURCE_PERMISSIONS
    COMPONENT pizero)
  install(TARGETS tavrel-gpiomem LIBRARY DESTINATION ${pz} COMPONENT pizero)
  install(TARGETS tavrel LIBRARY DESTINATION ${pz}/root/usr/${CMAKE_INSTALL_LIBDIR} COMPONENT pizero
    NAMELINK_SKIP)
  install(TARGETS tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull tavrel-gpio_wait
    DESTINATION ${pz}/root/usr/${CMAKE_INSTALL_BINDIR} COMPONENT pizero)
  install(FILES ${PROJECT_BINARY_DIR}/VERSION DESTINATION ${pz}/root/opt/tavrel COMPONENT pizero)
  install(FILES cmake/debian/tavrel-pizero.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME tavrel-pizero COMPONENT pizero)
endif()

# find_package(tavrel CONFIG) and pkg-config.
include(CMakePackageConfigHelpers)
set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tavrel)
install(EXPORT tavrelTargets NAMESPACE tavrel:: DESTINATION ${cmake_dir} COMPONENT dev)
configure_package_config_file(cmake/tavrelConfig.cmake.in tavrelConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(tavrelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tavrelConfig.cmake ${PROJECT_BINARY_DIR}/tavrelConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT dev)
configure_file(library/libtavrel.pc.in libtavrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/libtavrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Man pages, compressed as Debian installs them.
set(pages_tools tavrel-gpio_mode tavrel-gpio_state tavrel-gpio_pull tavrel-gpio_wait)
set(pages_sim tavrel-sim)
set(pages_pizero tavrel-pizero)
set(pages_sdk tavrel-armv6-cc tavrel-armv6-c++ tavrel-armv6-pkg-config tavrel-armv6-check)
set(man_outputs)
foreach(component tools sim pizero sdk)
  foreach(page ${pages_${component}})
    set(out ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/${page}.1 > ${out}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}.1 VERBATIM)
    list(APPEND man_outputs ${out})
    if(component IN_LIST TAVREL_COMPONENTS)
      install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endif()
  endforeach()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_outputs})

# Section 3, made from the headers' doc comments (docs/header2man.sh) when
# the project is configured: a page per exported name and libtavrel(3) for
# the development package, tavrel_simboard(3) for the simulated board's.
set(man3 ${PROJECT_BINARY_DIR}/man3)
file(REMOVE_RECURSE ${man3})
string(SUBSTRING "${TAVREL_RELEASE_DATE}" 5 11 release_day)  # "09 Dec 2026"
execute_process(COMMAND date -u -d "${release_day}" +%Y-%m-%d OUTPUT_VARIABLE man_date
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/docs/header2man.sh pages ${PROJECT_BINARY_DIR}/include/tavrel.h
  ${man3}/dev ${PROJECT_VERSION} ${man_date} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/docs/header2man.sh page tavrel_simboard
  ${PROJECT_SOURCE_DIR}/sim/api/include/tavrel_simboard.h ${man3}/sim ${PROJECT_VERSION} ${man_date}
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/header2man.sh
  ${PROJECT_SOURCE_DIR}/library/include/tavrel.h.in ${PROJECT_SOURCE_DIR}/sim/api/include/tavrel_simboard.h)
foreach(component dev sim)
  file(GLOB pages ${man3}/${component}/*.3)
  foreach(page ${pages})
    execute_process(COMMAND gzip -9n ${page} COMMAND_ERROR_IS_FATAL ANY)
    if(component IN_LIST TAVREL_COMPONENTS)
      install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT ${component})
    endif()
  endforeach()
endforeach()

# Every package's /usr/share/doc: the licence in Debian's machine-readable
# form, and the changelog in Debian's format.
configure_file(cmake/debian/changelog.in debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
# The virtual Pi Zero's also covers the glibc its root holds.
file(READ cmake/debian/copyright copyright_text)
file(READ cmake/debian/copyright-glibc copyright_glibc)
file(WRITE ${PROJECT_BINARY_DIR}/debian/pizero/copyright "${copyright_text}${copyright_glibc}")
foreach(component ${TAVREL_COMPONENTS})
  set(copyright cmake/debian/copyright)
  if(component STREQUAL pizero)
    set(copyright ${PROJECT_BINARY_DIR}/debian/pizero/copyright)
  endif()
  install(FILES ${copyright} ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TAVREL_PACKAGE_${component}} COMPONENT ${component})
endforeach()
install(FILES cmake/debian/libtavrel1.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME libtavrel1 COMPONENT runtime)
