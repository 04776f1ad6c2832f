# Archives the project's commit HEAD as OUT/NAME.tar.gz, the same bytes for
# the same commit: the program's part of its corresponding source.
#
#   cmake -DSOURCE_DIR=... -DOUT=... -DNAME=... -P source-archive.cmake
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

file(MAKE_DIRECTORY ${OUT})
# git archive gives the same tar for the same commit; gzip -n adds no name
# or time of its own.
execute_process(
  COMMAND ${GIT} -C ${SOURCE_DIR} archive --format=tar --prefix=${NAME}/ HEAD
  COMMAND ${GZIP} -9n
  OUTPUT_FILE ${OUT}/${NAME}.tar.gz
  COMMAND_ERROR_IS_FATAL ANY)
