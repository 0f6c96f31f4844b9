# cpack -G DEB: a Debian package of what cmake --install puts in place.
# The maintainer, as the project's commits and docs/debian/changelog name it.
set(MAVUSFX_MAINTAINER "Mavu SFX maintainers <maintainers@users.noreply.c-seed-ea8b5cb7.example>"
  CACHE STRING "The Maintainer field of the Debian package")
# Build trees configured before keep the placeholder address they cached.
if(MAVUSFX_MAINTAINER STREQUAL "Mavu SFX developers <mavusfx@example.org>")
  set(MAVUSFX_MAINTAINER "Mavu SFX maintainers <maintainers@users.noreply.c-seed-ea8b5cb7.example>"
    CACHE STRING "The Maintainer field of the Debian package" FORCE)
endif()
set(CPACK_PACKAGE_NAME mavusfx)
set(CPACK_PACKAGE_VENDOR "Mavu SFX")
set(CPACK_PACKAGE_CONTACT "${MAVUSFX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting installers from LHA archives for Windows")
# The long description: the summary is its first line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "mavusfx packs a folder into an LHA (.lzh) archive and joins it with a small\n"
  "Japanese-language stub for 32-bit Windows into one self-extracting installer,\n"
  "which asks for a destination, extracts with progress, makes shortcuts and\n"
  "starts a program.  It also lists, tests and extracts LHA archives and such\n"
  "installers on Linux with the stub's own engine.  The tool carries the stub;\n"
  "it is also installed as /usr/share/mavusfx/mavusfx.exe.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MAVUSFX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries' packages found by dpkg-shlibdeps, as Debian's own packages do.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Signing installers, and running them on Linux.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode, wine")
# Reproducible packages: unless the caller sets SOURCE_DATE_EPOCH, cpack takes the
# time of the source tree's last commit (or, outside a git checkout, of the newest
# changelog entry's file), so that every time in the package is that one.
set(MAVUSFX_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/package_time.cmake.in ${CMAKE_BINARY_DIR}/package_time.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/package_time.cmake)
include(CPack)
