# The runtime linked into the program, as the distribution's package manager
# knows it: the Debian source packages it was built from (the .deb's
# Built-Using), and, for the Windows zip, the toolchain's own copyright
# notices, which the MinGW-w64 licence requires to travel with the binary.
# Found through dpkg-query; on a system without it the packages say nothing.
set(SCORE_LOOKUP_BUILT_USING "")
set(SCORE_LOOKUP_NOTICES "")
find_program(DPKG_QUERY dpkg-query)
if(NOT SCORE_LOOKUP_STATIC OR MSVC OR NOT DPKG_QUERY)
  return()
endif()

set(archives libstdc++.a libgcc.a)
if(WIN32)
  list(APPEND archives libssp.a libmingw32.a libmingwex.a)
else()
  list(APPEND archives libc.a)
endif()

set(built_using "")
set(copyrights "")
set(provenance "")
foreach(archive IN LISTS archives)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${archive}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${path}" path)
  execute_process(COMMAND ${DPKG_QUERY} --search ${path}
    OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT owner MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
    message(WARNING "No package owns ${path}: the packages will not name it.")
    continue()
  endif()
  set(package ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  execute_process(
    COMMAND ${DPKG_QUERY} --show
            "--showformat=\${source:Package} (= \${source:Version})" ${package}
    OUTPUT_VARIABLE source COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND built_using "${source}")
  list(APPEND provenance "${archive} from ${package}, built from ${source}")
  file(REAL_PATH /usr/share/doc/${CMAKE_MATCH_1}/copyright copyright)
  list(APPEND copyrights ${copyright})
endforeach()
list(REMOVE_DUPLICATES built_using)
list(SORT built_using)
list(JOIN built_using ", " SCORE_LOOKUP_BUILT_USING)

if(WIN32)
  list(REMOVE_DUPLICATES copyrights)
  set(SCORE_LOOKUP_NOTICES ${PROJECT_BINARY_DIR}/NOTICES.txt)
  list(JOIN provenance "\n  " provenance)
  set(text "score_lookup.exe has the following runtime libraries linked in:\n\
\n  ${provenance}\n\nTheir copyright notices and licences follow, as the \
toolchain that built\nthe program gives them.\n")
  foreach(copyright IN LISTS copyrights)
    file(READ ${copyright} notice)
    string(APPEND text "\n\n${copyright}\n\n${notice}")
  endforeach()
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${SCORE_LOOKUP_NOTICES}.new "${text}")
  file(COPY_FILE ${SCORE_LOOKUP_NOTICES}.new ${SCORE_LOOKUP_NOTICES}
    ONLY_IF_DIFFERENT)
endif()
