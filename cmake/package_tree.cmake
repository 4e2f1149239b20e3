# CPack pre-build script: in the staged .deb tree the manual page is
# compressed (gzip -9n), as Debian's policy asks; `man` reads either form.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(page "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_TALVEX_MANUAL_PAGE}")
if(NOT EXISTS "${page}")
  message(FATAL_ERROR "manual page not staged at ${page}")
endif()
find_program(GZIP_EXECUTABLE gzip REQUIRED)
execute_process(COMMAND "${GZIP_EXECUTABLE}" -9nf "${page}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip of ${page} failed")
endif()
