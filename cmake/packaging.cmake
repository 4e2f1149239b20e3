# What `cmake --install` puts in place and what CPack packs.
#
# Linux: bin/talvex and share/man/man1/talvex.1, packed as a .deb whose
#   dependencies dpkg-shlibdeps finds (cpack -G DEB, in the build tree).
# Windows (the MinGW cross build): talvex.exe and README.md side by side,
#   packed as a .zip (cpack -G ZIP, in build-win).
# scripts/package.sh makes both.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS talvex RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  install(TARGETS talvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/talvex.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME talvex)
set(CPACK_PACKAGE_VENDOR "The Talvex developers")
set(CPACK_PACKAGE_CONTACT "The Talvex developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console file encryption with key files")
set(CPACK_PACKAGE_DESCRIPTION "\
talvex encrypts any file with a key file of your own (100 to
1,000,000,000 bytes), tests whether an encrypted .tvx file belongs to a
key file, and decrypts it again byte for byte. Every input byte becomes a
hex-text entry naming a random key position and the byte XOR the key byte
there.

The format keeps files from casual eyes only: it writes the key positions
in the clear and has no integrity check. Read SECURITY in talvex(1) before
trusting it with anything of value.")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
# The Windows release executable is linked stripped already.
if(NOT WIN32)
  set(CPACK_STRIP_FILES ON)
endif()

# Debian: talvex_VERSION_ARCH.deb, dependencies from the binary's libraries,
# the manual page compressed as Debian's policy asks.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_TALVEX_MANUAL_PAGE "${CMAKE_INSTALL_MANDIR}/man1/talvex.1")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/compress_manual.cmake")

# Windows: talvex-VERSION-win64.zip with one folder of that name inside.
if(WIN32)
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64")
endif()

include(CPack)
