# Fills OUT with the corresponding source of the statically linked program:
# the project's commit HEAD as NAME.tar.gz, reproducible byte for byte, and,
# when LIBC_SOURCE is given, the Debian source package of the C library
# linked in at exactly LIBC_VERSION, as apt-get downloads and checks it.
#
#   cmake -DSOURCE_DIR=... -DOUT=... -DNAME=...
#         [-DLIBC_SOURCE=... -DLIBC_VERSION=...] -P corresponding-source.cmake
foreach(var SOURCE_DIR OUT NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
find_program(GIT git REQUIRED)
find_program(GZIP gzip REQUIRED)

# The source of a release is a commit, never a working copy that no one
# else can check out.
execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} status --porcelain
                        --untracked-files=no
  OUTPUT_VARIABLE changed RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${SOURCE_DIR} is not a git checkout: "
    "its source cannot be archived")
endif()
if(changed)
  message(FATAL_ERROR " Tracked files differ from HEAD: commit or stash "
    "them, then archive HEAD.")
endif()

if(LIBC_SOURCE)
  file(REMOVE_RECURSE ${OUT})
endif()
file(MAKE_DIRECTORY ${OUT})
# git archive gives the same tar for the same commit; gzip -n adds no name
# or time of its own.
execute_process(
  COMMAND ${GIT} -C ${SOURCE_DIR} archive --format=tar --prefix=${NAME}/ HEAD
  COMMAND ${GZIP} -9n
  OUTPUT_FILE ${OUT}/${NAME}.tar.gz
  COMMAND_ERROR_IS_FATAL ANY)

if(NOT LIBC_SOURCE)
  return()
endif()
# apt-get checks every file against the archive's signed index.
find_program(APT_GET apt-get REQUIRED)
execute_process(
  COMMAND ${APT_GET} source --download-only -qq ${LIBC_SOURCE}=${LIBC_VERSION}
  WORKING_DIRECTORY ${OUT} RESULT_VARIABLE failed
  OUTPUT_VARIABLE apt_said ERROR_VARIABLE apt_said)
if(failed)
  string(STRIP "${apt_said}" apt_said)
  message("${apt_said}")
  # A leading space keeps CMake from breaking the line.
  set(why " Cannot download the source package ${LIBC_SOURCE}=${LIBC_VERSION}")
  if(apt_said MATCHES "deb-src")
    message(FATAL_ERROR "${why}: add deb-src lines for this machine's Debian "
      "archive to its apt sources (its deb lines with deb-src in place of "
      "deb), run apt-get update, and try again.")
  endif()
  message(FATAL_ERROR "${why}: apt-get said why above.")
endif()
