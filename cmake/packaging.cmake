# What cpack makes: a .deb and a .tar.gz on Linux, a .zip on Windows. CPack
# stages the install; cmake/pack.cmake packs it with Debian's and GNU's own
# tools, which can give the same bytes from any clone of the same commit,
# whoever builds it, wherever and whenever.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "The score_lookup authors <authors@score-lookup.invalid>")
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_REQUESTED_VERSIONS 1.0)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/pack.cmake)
if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" system)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${system})
endif()

# What cmake/pack.cmake needs to know; cpack hands on CPACK_* variables.
set(CPACK_SCORE_LOOKUP_SOURCE_DATE_EPOCH ${SCORE_LOOKUP_SOURCE_DATE_EPOCH})
set(CPACK_SCORE_LOOKUP_STRIP ${CMAKE_STRIP})
set(CPACK_SCORE_LOOKUP_LINKAGE ${SCORE_LOOKUP_LINKAGE})
set(CPACK_SCORE_LOOKUP_NOTICES "${SCORE_LOOKUP_NOTICES}")
set(CPACK_SCORE_LOOKUP_WINDOWS ${WIN32})
# Debian package names have no underscore; the command keeps its name.
set(CPACK_SCORE_LOOKUP_DEB_NAME score-lookup)
set(CPACK_SCORE_LOOKUP_DEB_BUILT_USING "${SCORE_LOOKUP_BUILT_USING}")
set(CPACK_SCORE_LOOKUP_DEB_SECTION utils)
# The synopsis is the project's description; this is the text below it.
set(CPACK_SCORE_LOOKUP_DEB_DESCRIPTION
"score_lookup holds a fixed table of ten scores. It asks once on the console
for an index, prints the score stored at that index or says that no such
score exists, and exits. The reply is read as one decimal integer, as C++
stream extraction reads it; a reply that is not a number is refused.")

include(CPack)
