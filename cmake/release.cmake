# The newest entry of debian/changelog, which named the version, also dates
# the release: the manual and the Windows readme show its day, read here on
# any host; cmake/pack.cmake takes the exact time from dpkg-parsechangelog.
file(STRINGS debian/changelog trailer REGEX "^ -- " LIMIT_COUNT 1)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(JOIN months "|" month_names)
if(NOT trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) (${month_names}) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "debian/changelog: no date in the line\n${trailer}\n"
    "It must read like \"Wed, 09 Dec 2026 00:00:00 +0000\" (RFC 5322).")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 101") # two digits after the 1
string(SUBSTRING ${month} 1 2 month)
set(SCORE_LOOKUP_RELEASE_DATE ${year}-${month}-${day})

if(WIN32)
  # Papers for Windows users, with the line ends that Notepad shows.
  configure_file(packaging/README-windows.txt README.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
else()
  configure_file(packaging/score_lookup.1.in score_lookup.1 @ONLY)
endif()
