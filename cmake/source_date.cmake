# Dates the manual page by the source it is built from, never by the clock,
# so that the same commit always gives the same page and the same packages.
# The date is SOURCE_DATE_EPOCH when set, else the time of the last commit
# (the source folder being the top of a git work tree), else the date of
# doc/changelog's newest entry (a source tree without git). The time used is
# also written to EPOCH_FILE: CPack stamps every file of the packages with it
# (cmake/package_time.cmake).
#
# Run by every build, and by the manual page check:
#   cmake -DSOURCE_DIR=... -DGIT=... -DVERSION=... -DTEMPLATE=... -DPAGE=...
#         -DEPOCH_FILE=... -P source_date.cmake
# GIT may be empty. PAGE and EPOCH_FILE change only when their text does.
foreach(arg SOURCE_DIR VERSION TEMPLATE PAGE EPOCH_FILE)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "source_date.cmake needs -D${arg}=...")
  endif()
endforeach()

set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch STREQUAL "")
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not \"${epoch}\"")
  endif()
endif()

# git answers for the enclosing work tree too: only a source folder at the
# top of one is dated by its commit.
if(epoch STREQUAL "" AND GIT)
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --show-prefix
    RESULT_VARIABLE failed OUTPUT_VARIABLE prefix ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed AND prefix STREQUAL "")
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" log -1 --format=%ct
      RESULT_VARIABLE failed OUTPUT_VARIABLE commit_time ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT failed AND commit_time MATCHES "^[0-9]+$")
      set(epoch "${commit_time}")
    endif()
  endif()
endif()

if(epoch STREQUAL "")
  # The trailer line of the newest entry: " -- name <address>  Tue, 08 Dec 2026 ...".
  file(STRINGS "${SOURCE_DIR}/doc/changelog" trailer REGEX "^ -- " LIMIT_COUNT 1)
  if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "no date in the newest entry of ${SOURCE_DIR}/doc/changelog")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months "${CMAKE_MATCH_2}" month)
  if(month LESS 0)
    message(FATAL_ERROR "no month \"${CMAKE_MATCH_2}\" in doc/changelog's newest date")
  endif()
  # Midnight UTC of that day: days since 1970-01-01 of the proleptic
  # Gregorian calendar, counted from March so that leap days come last.
  math(EXPR month "${month} + 1")
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR epoch "(${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
                    + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468) * 86400")
  message(STATUS "talvex.1: neither SOURCE_DATE_EPOCH nor a git commit; "
                 "dated by doc/changelog's newest entry")
endif()

# string(TIMESTAMP) reads the clock only where SOURCE_DATE_EPOCH is not set.
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
string(TIMESTAMP TALVEX_MAN_DATE "%Y-%m-%d" UTC)
set(PROJECT_VERSION "${VERSION}")
configure_file("${TEMPLATE}" "${PAGE}" @ONLY)
if(EXISTS "${EPOCH_FILE}")
  file(READ "${EPOCH_FILE}" recorded)
endif()
if(NOT recorded STREQUAL "${epoch}\n")
  file(WRITE "${EPOCH_FILE}" "${epoch}\n")
endif()
