# The runtime linked into a static program, as the distribution's package
# manager knows it. NOTICES holds the toolchain's own copyright files word
# for word, which must travel with a binary that has these libraries in it;
# on Linux it also names the GNU C Library's source package, which each
# release publishes beside the tarball. Both come from dpkg-query; without
# it there are none, and cpack refuses to make packages.
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

# The link's own flags, whose -B folders come before the compiler's.
separate_arguments(link_flags UNIX_COMMAND "${CMAKE_EXE_LINKER_FLAGS}")

set(provenance "")
set(texts "")
foreach(archive IN LISTS archives)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} ${link_flags} -print-file-name=${archive}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${path}" path)
  execute_process(COMMAND ${DPKG_QUERY} --search ${path}
    OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT owner MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
    message(WARNING "No package owns ${path}: cpack will make no packages.")
    return()
  endif()
  set(package ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  file(REAL_PATH /usr/share/doc/${CMAKE_MATCH_1}/copyright copyright)
  execute_process(
    COMMAND ${DPKG_QUERY} --show
            "--showformat=\${source:Package} \${source:Version}" ${package}
    OUTPUT_VARIABLE source COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE " " " (= " source_text "${source})")
  list(APPEND provenance "${archive} from ${package}, built from ${source_text}")
  if(archive STREQUAL "libc.a")
    # Debian's cross compilers bring a copy built by cross-toolchain-base,
    # whose source package holds no glibc source.
    if(NOT source MATCHES "^glibc ")
      message(WARNING "${path} comes from ${package}, built from "
        "${source_text}, which is not the GNU C Library's own source: the "
        "source it asks to go with the program cannot be named, and cpack "
        "will make no packages.")
      return()
    endif()
    set(libc_source "${source}")
  endif()
  list(APPEND texts ${copyright})
endforeach()

list(REMOVE_DUPLICATES texts)
list(APPEND texts ${licences})
list(JOIN provenance "\n  " provenance)
set(text "${program} has the following runtime libraries linked in:\n\
\n  ${provenance}\n")
if(libc_source)
  # Debian names a source package's files without the version's epoch.
  string(REGEX REPLACE "^([^ ]+) ([0-9]+:)?(.+)$" "\\1_\\3.dsc"
    SCORE_LOOKUP_LIBC_DSC "${libc_source}")
  set(preset release)
  if(CMAKE_CROSSCOMPILING) # such as release-aarch64
    string(APPEND preset -${CMAKE_SYSTEM_PROCESSOR})
  endif()
  string(APPEND text "
The GNU C Library is under the GNU Lesser General Public License 2.1 or
later, which lets you change the library and link the program against your
changed copy. Each release publishes its corresponding source beside this
tarball, and that source holds all you need for it:

  ${PROJECT_NAME}-${PROJECT_VERSION}.tar.gz
    The program's own source. To link it against your library, build
    it with the ${preset} preset, naming the folder that holds your
    libc.a and its start files (rcrt1.o, crti.o, crtn.o):
      cmake --preset ${preset} -DCMAKE_EXE_LINKER_FLAGS=\"-B<folder> -L<folder>\"
      cmake --build --preset ${preset}

  ${SCORE_LOOKUP_LIBC_DSC} and the files it lists
    The library's source, as Debian built the copy that is linked in;
    dpkg-source -x ${SCORE_LOOKUP_LIBC_DSC} unpacks it.
")
endif()
string(APPEND text "
Their copyright notices and licences follow, as the toolchain that built
the program gives them.
")
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
