# Fills OUT with the corresponding source of the statically linked program:
# the project's tracked files as NAME.tar.gz, reproducible byte for byte,
# and, when LIBC_SOURCE is given, the Debian source package of the C library
# linked in at exactly LIBC_VERSION, as apt-get downloads and checks it.
#
#   cmake -DSOURCE_DIR=... -DOUT=... -DNAME=... -DEPOCH=...
#         [-DLIBC_SOURCE=... -DLIBC_VERSION=...] -P corresponding-source.cmake
foreach(var SOURCE_DIR OUT NAME EPOCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
find_program(GIT git REQUIRED)
find_program(TAR tar REQUIRED)
find_program(GZIP gzip REQUIRED)
if(LIBC_SOURCE)
  file(REMOVE_RECURSE ${OUT})
endif()
file(MAKE_DIRECTORY ${OUT})

execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} ls-files -z
  OUTPUT_FILE ${OUT}/tracked RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${SOURCE_DIR} is not a git checkout: "
    "its tracked files cannot be listed")
endif()
# The same bytes from any clone: fixed owner, modes and time, name order.
execute_process(
  COMMAND ${TAR} --create --format=gnu --null --files-from=${OUT}/tracked
          --sort=name --owner=0 --group=0 --numeric-owner --mtime=@${EPOCH}
          --mode=u=rwX,go=rX --transform=s,^,${NAME}/, --file=-
  COMMAND ${GZIP} -9n
  WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_FILE ${OUT}/${NAME}.tar.gz
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUT}/tracked)

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
  message(FATAL_ERROR " Cannot download the source package "
    "${LIBC_SOURCE}=${LIBC_VERSION}: add deb-src lines for this machine's "
    "Debian archive to its apt sources (its deb lines with deb-src in place "
    "of deb), run apt-get update, and try again online.")
endif()
