# cpack -G DEB: a Debian package of what cmake --install puts in place.
set(MAVUSFX_MAINTAINER "Mavu SFX developers <mavusfx@example.org>" CACHE STRING
  "The Maintainer field of the Debian package")
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
include(CPack)
