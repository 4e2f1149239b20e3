# CPack reads this before it packs. CPack stamps every file and archive
# member with SOURCE_DATE_EPOCH when it is set; unless the caller sets it,
# it is the time the build dated the manual page by (the last commit), so
# packages made twice from the same commit are the same bytes.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "" AND EXISTS "${CPACK_TALVEX_EPOCH_FILE}")
  file(STRINGS "${CPACK_TALVEX_EPOCH_FILE}" epoch LIMIT_COUNT 1)
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
