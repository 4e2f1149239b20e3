# What `cmake --install` puts in place and what CPack packs.
#
# Linux: bin/talvex, the manual page share/man/man1/talvex.1, the bash
#   completion share/bash-completion/completions/talvex, and in
#   share/doc/talvex the licence as Debian's machine-readable copyright file
#   and the changelog; packed as a .deb whose dependencies dpkg-shlibdeps
#   finds (cpack -G DEB, in the build tree), for the processor built for:
#   amd64, or arm64 from the aarch64 cross build, whose dependencies come
#   from the arm64 libraries that multiarch installs.
# Windows (the MinGW cross build): talvex.exe, with a version resource for
#   its file properties and an application manifest, the Windows readme
#   README.txt (doc/README.txt.in), the manual page as text MANUAL.txt
#   (cmake/manual_text.cmake, with groff) and LICENSE side by side, all CR
#   LF, packed as a .zip (cpack -G ZIP, in build-win).
# scripts/package.sh makes both, and the static Linux tarballs beside them
# (it packs those itself). Packages made twice from the same commit
# are the same bytes: the manual page and every time stamp are dated by the
# commit (cmake/source_date.cmake).
include(GNUInstallDirs)

# Who answers for the packages; .invalid (RFC 2606) makes plain that the
# project has no mailbox yet rather than sending mail to a stranger's domain.
set(TALVEX_CONTACT "talvex developers <talvex@users.noreply.invalid>" CACHE STRING
    "Maintainer of the packages: name <address>")

# The copyright line and the licence's terms, from LICENSE alone.
set(licence_file "${PROJECT_SOURCE_DIR}/LICENSE")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${licence_file}")
file(READ "${licence_file}" licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([0-9][0-9, -]*) ([^\n]+)\n\n(Permission is hereby granted.*)$")
  message(FATAL_ERROR "LICENSE: no copyright line followed by the MIT licence's terms")
endif()
set(TALVEX_COPYRIGHT_YEARS "${CMAKE_MATCH_1}")
set(TALVEX_COPYRIGHT_HOLDERS "${CMAKE_MATCH_2}")
string(STRIP "${CMAKE_MATCH_3}" terms)

# The manual page's date and the packages' time stamps, from the commit;
# looked up on every build, since a commit changes no file CMake watches.
find_program(TALVEX_GIT git)
mark_as_advanced(TALVEX_GIT)
set(TALVEX_MANUAL_PAGE "${PROJECT_BINARY_DIR}/doc/talvex.1")
set(TALVEX_EPOCH_FILE "${PROJECT_BINARY_DIR}/source_date_epoch")
add_custom_target(talvex_source_date ALL
  COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" "-DGIT=${TALVEX_GIT}"
          "-DVERSION=${PROJECT_VERSION}" "-DTEMPLATE=${PROJECT_SOURCE_DIR}/doc/talvex.1.in"
          "-DPAGE=${TALVEX_MANUAL_PAGE}" "-DEPOCH_FILE=${TALVEX_EPOCH_FILE}"
          -P "${PROJECT_SOURCE_DIR}/cmake/source_date.cmake"
  BYPRODUCTS "${TALVEX_MANUAL_PAGE}" "${TALVEX_EPOCH_FILE}"
  VERBATIM)
# What the install needs comes with the tool: `--target talvex` (as
# scripts/demo.sh builds) leaves a tree that `cmake --install` can install.
add_dependencies(talvex talvex_source_date)

if(WIN32)
  # The file properties Windows shows for talvex.exe, and the application
  # manifest: Windows 10 and 11, long paths, UTF-8 as the ANSI code page.
  enable_language(RC)
  foreach(part MAJOR MINOR PATCH TWEAK)
    math(EXPR TALVEX_VERSION_${part} "0${PROJECT_VERSION_${part}}")
  endforeach()
  set(TALVEX_MANIFEST "${PROJECT_BINARY_DIR}/talvex.manifest")
  configure_file(cmake/talvex.manifest.in "${TALVEX_MANIFEST}" @ONLY)
  configure_file(cmake/talvex.rc.in talvex.rc @ONLY)
  target_sources(talvex PRIVATE "${PROJECT_BINARY_DIR}/talvex.rc")
  # The resource compiler reads the manifest, which no scan of the .rc finds.
  set_source_files_properties("${PROJECT_BINARY_DIR}/talvex.rc" PROPERTIES
                              OBJECT_DEPENDS "${TALVEX_MANIFEST}")

  # The readme and the licence for Windows users, in the line ends Notepad
  # has always read.
  configure_file(doc/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE @ONLY NEWLINE_STYLE CRLF)
  # The manual, for users who have no man, made from the dated page.
  find_program(TALVEX_GROFF groff)
  if(NOT TALVEX_GROFF)
    message(FATAL_ERROR "groff (Debian: groff-base) is needed for the .zip's MANUAL.txt")
  endif()
  set(manual_text "${PROJECT_BINARY_DIR}/MANUAL.txt")
  add_custom_target(talvex_manual_text ALL
    COMMAND "${CMAKE_COMMAND}" "-DGROFF=${TALVEX_GROFF}" "-DPAGE=${TALVEX_MANUAL_PAGE}"
            "-DTEXT=${manual_text}" -P "${PROJECT_SOURCE_DIR}/cmake/manual_text.cmake"
    BYPRODUCTS "${manual_text}"
    VERBATIM)
  add_dependencies(talvex_manual_text talvex_source_date)

  install(TARGETS talvex RUNTIME DESTINATION .)
  install(FILES "${PROJECT_BINARY_DIR}/README.txt" "${manual_text}" "${PROJECT_BINARY_DIR}/LICENSE"
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  # The licence in Debian's machine-readable form; Debian calls this
  # variant of the MIT licence Expat. Blank lines of the terms become " .".
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " TALVEX_LICENCE_TERMS " ${terms}")
  configure_file(doc/copyright.in doc/copyright @ONLY)

  install(TARGETS talvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${TALVEX_MANUAL_PAGE}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/talvex.bash RENAME talvex
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES "${PROJECT_BINARY_DIR}/doc/copyright" doc/changelog
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME talvex)
set(CPACK_PACKAGE_VENDOR "${TALVEX_COPYRIGHT_HOLDERS}")
set(CPACK_PACKAGE_CONTACT "${TALVEX_CONTACT}")
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
# Every time stamp in the packages is the source's (see above).
set(CPACK_TALVEX_EPOCH_FILE "${TALVEX_EPOCH_FILE}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/package_time.cmake")

# Debian: talvex_VERSION_ARCH.deb, dependencies from the binary's libraries,
# the manual page and the changelog compressed as Debian's policy asks,
# folders open to all whatever the umask (cmake/package_tree.cmake).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A cross build's package is for the processor it was built for; CPack
# would name this machine's (dpkg --print-architecture).
if(CMAKE_CROSSCOMPILING AND NOT WIN32)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  else()
    message(WARNING "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}: "
                    "the .deb would be labelled with this machine's")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_TALVEX_COMPRESSED "${CMAKE_INSTALL_MANDIR}/man1/talvex.1" "${CMAKE_INSTALL_DOCDIR}/changelog")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/package_tree.cmake")

# Windows: talvex-VERSION-win64.zip with one folder of that name inside.
if(WIN32)
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64")
endif()

include(CPack)
