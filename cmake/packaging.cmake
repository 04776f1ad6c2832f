# What cpack makes: the portable .tar.gz on Linux, the .zip on Windows; the
# .deb is dpkg-buildpackage's, from debian/. CPack stages the install;
# cmake/pack.cmake packs it with GNU's and Info-ZIP's tools, which can give
# the same bytes from any clone of the same commit, whoever builds it,
# wherever and whenever.
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
set(CPACK_SCORE_LOOKUP_CHANGELOG ${PROJECT_SOURCE_DIR}/debian/changelog)
set(CPACK_SCORE_LOOKUP_STRIP ${CMAKE_STRIP})
set(CPACK_SCORE_LOOKUP_LINKAGE ${SCORE_LOOKUP_LINKAGE})
set(CPACK_SCORE_LOOKUP_NOTICES "${SCORE_LOOKUP_NOTICES}")
set(CPACK_SCORE_LOOKUP_WINDOWS ${WIN32})
include(CPack)

# The source that the licence of the C library linked into the tarball's
# program asks its distributor to offer beside it: the project's commit,
# which source-archive makes, and the library's source package, which the
# release collects (see RELEASING.md).
if(SCORE_LOOKUP_LIBC_DSC)
  set(out ${PROJECT_BINARY_DIR}/corresponding-source)
  add_custom_target(source-archive
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUT=${out}
            -DNAME=${PROJECT_NAME}-${PROJECT_VERSION}
            -P ${PROJECT_SOURCE_DIR}/cmake/source-archive.cmake
    COMMENT "Archiving the tracked files in ${out}"
    VERBATIM)
endif()
