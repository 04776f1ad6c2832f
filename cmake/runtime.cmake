# The runtime linked into the program, as the distribution's package manager
# knows it: the Debian source packages it was built from (the .deb's
# Built-Using), and NOTICES, the toolchain's own copyright files word for
# word, which must travel with a binary that has these libraries in it.
# Both come from dpkg-query; without it there are none, and cpack refuses to
# make packages.
set(SCORE_LOOKUP_BUILT_USING "")
set(SCORE_LOOKUP_NOTICES "")
if(MSVC OR SCORE_LOOKUP_LINKAGE STREQUAL "dynamic")
  return()
endif()
find_program(DPKG_QUERY dpkg-query)
if(NOT DPKG_QUERY)
  message(WARNING "No dpkg-query: the runtime linked in cannot be named, "
    "and cpack will make no packages.")
  return()
endif()

set(archives libstdc++.a libgcc.a)
set(licences "")
if(WIN32)
  list(APPEND archives libssp.a libmingw32.a libmingwex.a)
  set(notices ${PROJECT_BINARY_DIR}/NOTICES.txt)
  set(program score_lookup.exe)
else()
  list(APPEND archives libc.a)
  # The GNU C Library's licence asks for its text to go with the program.
  set(licences /usr/share/common-licenses/LGPL-2.1)
  set(notices ${PROJECT_BINARY_DIR}/NOTICES)
  set(program score_lookup)
endif()

set(built_using "")
set(provenance "")
set(texts "")
foreach(archive IN LISTS archives)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${archive}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${path}" path)
  execute_process(COMMAND ${DPKG_QUERY} --search ${path}
    OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT owner MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
    message(WARNING "No package owns ${path}: cpack will make no packages.")
    return()
  endif()
  set(package ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  execute_process(
    COMMAND ${DPKG_QUERY} --show
            "--showformat=\${source:Package} (= \${source:Version})" ${package}
    OUTPUT_VARIABLE source COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND built_using "${source}")
  list(APPEND provenance "${archive} from ${package}, built from ${source}")
  file(REAL_PATH /usr/share/doc/${CMAKE_MATCH_1}/copyright copyright)
  list(APPEND texts ${copyright})
endforeach()
list(REMOVE_DUPLICATES built_using)
list(SORT built_using)
list(JOIN built_using ", " SCORE_LOOKUP_BUILT_USING)

list(REMOVE_DUPLICATES texts)
list(APPEND texts ${licences})
list(JOIN provenance "\n  " provenance)
set(text "${program} has the following runtime libraries linked in:\n\
\n  ${provenance}\n\nTheir copyright notices and licences follow, as the \
toolchain that built\nthe program gives them.\n")
foreach(file IN LISTS texts)
  file(READ ${file} content)
  string(APPEND text "\n\n${file}\n\n${content}")
endforeach()
if(WIN32)
  string(REPLACE "\n" "\r\n" text "${text}")
endif()
file(WRITE ${notices}.new "${text}")
file(COPY_FILE ${notices}.new ${notices} ONLY_IF_DIFFERENT)
set(SCORE_LOOKUP_NOTICES ${notices})
