# The manual page as plain text for the Windows .zip (MANUAL.txt), where no
# man reads the page itself: groff's ASCII rendering, so that every option
# keeps the "-" the tool reads (UTF-8 would print other dashes), without
# overstrikes or hyphenation, in CR LF. The same page and groff give the
# same bytes.
#
# Run by the Windows build after the page is dated:
#   cmake -DGROFF=... -DPAGE=... -DTEXT=... -P manual_text.cmake
# TEXT changes only when its text does.
foreach(arg GROFF PAGE TEXT)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "manual_text.cmake needs -D${arg}=...")
  endif()
endforeach()

execute_process(COMMAND "${GROFF}" -man -T ascii -P -cbou -rHY=0 "${PAGE}"
  RESULT_VARIABLE failed OUTPUT_VARIABLE text ERROR_VARIABLE errors)
if(failed OR NOT errors STREQUAL "" OR text STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE}: ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
if(EXISTS "${TEXT}")
  file(READ "${TEXT}" recorded)
endif()
if(NOT recorded STREQUAL text)
  file(WRITE "${TEXT}" "${text}")
endif()
