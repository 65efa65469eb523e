# SPDX-License-Identifier: MIT
# The release's version as the installation's version file holds it:
# MAJOR, a full stop, MINOR as two digits, and the PATCH-th capital letter
# counted from A. 1.0.0 is "1.00A", 1.2.3 is "1.02D". The header's
# TAVREL_VERSION_* numbers come from the same project() version.
if(PROJECT_VERSION_MINOR GREATER 99 OR PROJECT_VERSION_PATCH GREATER 25)
  message(FATAL_ERROR "version ${PROJECT_VERSION}: the version file has room for minor 0 to 99 and patch 0 to 25")
endif()
math(EXPR letter_code "65 + ${PROJECT_VERSION_PATCH}")
string(ASCII ${letter_code} letter)
if(PROJECT_VERSION_MINOR LESS 10)
  set(minor "0${PROJECT_VERSION_MINOR}")
else()
  set(minor "${PROJECT_VERSION_MINOR}")
endif()
set(TAVREL_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor}${letter}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/VERSION CONTENT "${TAVREL_VERSION_TEXT}\n")
unset(letter_code)
unset(letter)
unset(minor)
# The release's date, in the Debian changelog's form; reproducible builds
# take no date from the clock.
set(TAVREL_RELEASE_DATE "Wed, 09 Dec 2026 00:00:00 +0000")
set(TAVREL_MAINTAINER "libtavrel maintainers <maintainers@libtavrel.invalid>")

# A script as installed: its "@PROJECT_VERSION@" made the version, all
# else as it is. The copy in the tree reads the version from this project.
function(tavrel_versioned_script source output)
  file(READ ${source} text)
  string(REPLACE "@PROJECT_VERSION@" "${PROJECT_VERSION}" text "${text}")
  file(WRITE ${output} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
