# The release is described once, in packaging/changelog: its newest entry
# names the version, which must be project(VERSION), and its date is the
# release's one timestamp (SOURCE_DATE_EPOCH), used in place of the clock.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} entry_head LIMIT_COUNT 1)
file(STRINGS ${changelog} entry_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT entry_head MATCHES "^score-lookup \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR
    "packaging/changelog has no entry for ${PROJECT_VERSION} on top")
endif()

set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT entry_trailer MATCHES
    ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) \\+0000$")
  message(FATAL_ERROR
    "packaging/changelog: the newest entry's date must be in UTC (+0000)")
endif()
set(day ${CMAKE_MATCH_1})
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1")
set(year ${CMAKE_MATCH_3})
math(EXPR seconds_of_day
  "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")

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
math(EXPR SCORE_LOOKUP_SOURCE_DATE_EPOCH "${days} * 86400 + ${seconds_of_day}")
string(REGEX REPLACE "^([0-9])$" "0\\1" month "${month}")
set(SCORE_LOOKUP_RELEASE_DATE "${year}-${month}-${day}")

if(NOT WIN32)
  # The man page and the changelog ship compressed the Debian way: gzip -9n
  # keeps no name and no time in the file.
  find_program(GZIP gzip REQUIRED)
  configure_file(packaging/score_lookup.1.in score_lookup.1 @ONLY)
  configure_file(${changelog} changelog COPYONLY)
  add_custom_command(
    OUTPUT score_lookup.1.gz changelog.gz
    COMMAND ${GZIP} -9nkf score_lookup.1 changelog
    DEPENDS ${PROJECT_BINARY_DIR}/score_lookup.1 ${PROJECT_BINARY_DIR}/changelog
    COMMENT "Compressing the man page and the changelog"
    VERBATIM)
  add_custom_target(score_lookup_docs ALL
    DEPENDS score_lookup.1.gz changelog.gz)
endif()
