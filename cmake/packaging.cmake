# What cpack makes: a .deb and a .tar.gz of the installed tree on Linux, a
# .zip on Windows. Each is the same, byte for byte, from any clone of the
# same commit (the .deb given the same umask and kind of file system).
set(CPACK_PACKAGE_NAME score_lookup)
set(CPACK_PACKAGE_VENDOR "The score_lookup authors")
set(CPACK_PACKAGE_CONTACT "The score_lookup authors <authors@score-lookup.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-before-packing.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-after-packing.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackReproducible.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
# Every file in the packages gets the release's date, not the build's.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} @SCORE_LOOKUP_SOURCE_DATE_EPOCH@)
endif()
# A zip keeps local times: make them the same everywhere.
set(ENV{TZ} UTC)
]] @ONLY)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" system)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${system})

  # Debian package names have no underscore; the command keeps its name.
  set(CPACK_DEBIAN_PACKAGE_NAME score-lookup)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The synopsis is the project's description; this is the text below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"score_lookup holds a fixed table of ten scores. It asks once on the console
for an index, prints the score stored at that index or says that no such
score exists, and exits. The reply is read as one decimal integer, as C++
stream extraction reads it; a reply that is not a number is refused.")
  # Statically linked: the binary depends on no shared library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()

include(CPack)
