# The newest entry of debian/changelog, which named the version, also dates
# the release: its date is the release's one timestamp (SOURCE_DATE_EPOCH),
# used in place of the clock. dpkg-parsechangelog reads it on Debian, but
# not on the Windows and other hosts that build from this tree too, so
# CMake reads it itself.
set(changelog ${PROJECT_SOURCE_DIR}/debian/changelog)
file(STRINGS ${changelog} entry_trailer REGEX "^ -- " LIMIT_COUNT 1)

# A wrong date would silently date the whole release wrongly: accept only
# one that is real, with the weekday that goes with it.
function(changelog_date_error why)
  message(FATAL_ERROR "debian/changelog: ${why} in the line\n"
    "${entry_trailer}\n"
    "The date must read like \"Wed, 09 Dec 2026 00:00:00 +0000\" (RFC 5322).")
endfunction()
if(NOT entry_trailer MATCHES
    ">  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([-+][0-9][0-9][0-9][0-9])$")
  changelog_date_error("no date")
endif()
set(weekdays Thu Fri Sat Sun Mon Tue Wed) # 1970-01-01 was a Thursday
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(weekday ${CMAKE_MATCH_1})
set(day_text ${CMAKE_MATCH_2})
set(month_name ${CMAKE_MATCH_3})
set(year ${CMAKE_MATCH_4})
math(EXPR day "${day_text}")
math(EXPR hour "${CMAKE_MATCH_5}")
math(EXPR minute "${CMAKE_MATCH_6}")
math(EXPR second "${CMAKE_MATCH_7}")
string(SUBSTRING ${CMAKE_MATCH_8} 0 3 offset_hours) # with its sign
string(SUBSTRING ${CMAKE_MATCH_8} 3 2 offset_minutes)
math(EXPR offset "${offset_hours}${offset_minutes} / 100 * 3600
  + ${offset_hours}${offset_minutes} % 100 * 60")
list(FIND months "${month_name}" month)
if(month EQUAL -1)
  changelog_date_error("unknown month \"${month_name}\"")
endif()
math(EXPR month "${month} + 1")
math(EXPR month_text "100 + ${month}")
string(SUBSTRING ${month_text} 1 2 month_text)
if(month EQUAL 2)
  math(EXPR by4 "${year} % 4")
  math(EXPR by100 "${year} % 100")
  math(EXPR by400 "${year} % 400")
  set(month_days 28)
  if(by400 EQUAL 0 OR (by4 EQUAL 0 AND NOT by100 EQUAL 0))
    set(month_days 29)
  endif()
elseif(month MATCHES "^(4|6|9|11)$")
  set(month_days 30)
else()
  set(month_days 31)
endif()
if(day LESS 1 OR day GREATER month_days OR year LESS 1970)
  changelog_date_error("no such day")
endif()
if(hour GREATER 23 OR minute GREATER 59 OR second GREATER 59)
  changelog_date_error("no such time")
endif()

# Days since 1970-01-01 of a civil date, counting years from March so that
# the leap day comes last.
if(month LESS_EQUAL 2)
  math(EXPR year_from_march "${year} - 1")
  math(EXPR month_from_march "${month} + 9")
else()
  set(year_from_march ${year})
  math(EXPR month_from_march "${month} - 3")
endif()
math(EXPR days "${year_from_march} * 365 + ${year_from_march} / 4
  - ${year_from_march} / 100 + ${year_from_march} / 400
  + (153 * ${month_from_march} + 2) / 5 + ${day} - 1 - 719468")
math(EXPR weekday_index "${days} % 7")
list(GET weekdays ${weekday_index} expected_weekday)
if(NOT weekday STREQUAL expected_weekday)
  changelog_date_error("${weekday}, but that day is a ${expected_weekday},")
endif()
math(EXPR SCORE_LOOKUP_SOURCE_DATE_EPOCH
  "${days} * 86400 + ${hour} * 3600 + ${minute} * 60 + ${second} - ${offset}")
set(SCORE_LOOKUP_RELEASE_DATE "${year}-${month_text}-${day_text}")

if(WIN32)
  # Papers for Windows users, with the line ends that Notepad shows.
  configure_file(packaging/README-windows.txt README.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
else()
  configure_file(packaging/score_lookup.1.in score_lookup.1 @ONLY)
endif()
