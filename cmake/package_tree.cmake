# CPack pre-build script, run on the staged tree before it is packed.
#
# Folders: rwxr-xr-x. The install makes them under the caller's umask, and
# a package made under umask 077 would install folders no user can open
# (and differ from one made under 022).
#
# .deb: the manual page and the changelog are compressed as Debian's
# policy asks (gzip -9n: no name or time inside, so the same bytes every
# time); `man` reads either form.
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
    file(CHMOD "${folder}" DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(file IN LISTS CPACK_TALVEX_COMPRESSED)
  set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${file}")
  if(NOT EXISTS "${staged}")
    message(FATAL_ERROR "${file} not staged at ${staged}")
  endif()
  execute_process(COMMAND "${GZIP_EXECUTABLE}" -9nf "${staged}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip of ${staged} failed")
  endif()
endforeach()
