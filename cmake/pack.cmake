# Run by cpack on the staged install. Makes the .tar.gz (GNU tar) on Linux,
# the .zip (Info-ZIP) for Windows. Whoever builds, their umask, clock, time
# zone, locale and file system must not show: the program is stripped the
# Debian way, and every file owned by root, given fixed modes and the
# release's time, and packed in name order.

# The release's time is its changelog entry's, unless the build is given
# another, as dpkg-buildpackage and reprotest give it.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  find_program(DPKG_PARSECHANGELOG dpkg-parsechangelog)
  if(NOT DPKG_PARSECHANGELOG)
    message(FATAL_ERROR "The packages take their time from SOURCE_DATE_EPOCH "
      "or else from debian/changelog by dpkg-parsechangelog (package "
      "dpkg-dev): set the one or install the other.")
  endif()
  execute_process(COMMAND ${DPKG_PARSECHANGELOG}
    -l ${CPACK_SCORE_LOOKUP_CHANGELOG} -STimestamp
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${epoch}\", not seconds "
    "since 1970.")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${epoch}) # strip on a PE file
set(ENV{TZ} UTC) # a zip keeps local times
set(ENV{LC_ALL} C)

# These downloads must run with nothing beside them, and say what runtime
# they carry.
if(NOT CPACK_SCORE_LOOKUP_LINKAGE MATCHES "^static")
  message(FATAL_ERROR "The packages hold a statically linked program; this "
    "build links it ${CPACK_SCORE_LOOKUP_LINKAGE}: configure with "
    "-DSCORE_LOOKUP_STATIC=ON, or use the release preset.")
endif()
if(NOT CPACK_SCORE_LOOKUP_NOTICES)
  message(FATAL_ERROR "The packages would not name the runtime linked into "
    "the program: configure found no dpkg-query or no package owning it.")
endif()

set(staged ${CPACK_TEMPORARY_DIRECTORY})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/pack)
set(name ${CPACK_PACKAGE_FILE_NAME})
set(out ${work}/out) # cpack copies the packages on from here
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${out})

function(run)
  execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Strip as Debian's dh_strip does: no symbols and no compiler banners.
if(CPACK_SCORE_LOOKUP_WINDOWS)
  set(program ${staged}/score_lookup.exe)
else()
  set(program ${staged}/bin/score_lookup)
endif()
run(${CPACK_SCORE_LOOKUP_STRIP} --remove-section=.comment
  --remove-section=.note ${program})

file(COPY ${staged}/ DESTINATION ${work}/${name})
run(chmod -R u=rwX,go=rX ${work})
run(find ${work} -exec touch --no-dereference --date=@${epoch} {} +)

if(CPACK_SCORE_LOOKUP_WINDOWS)
  find_program(ZIP zip REQUIRED)
  file(GLOB_RECURSE files RELATIVE ${work} ${work}/${name}/*)
  list(SORT files)
  set(zip ${out}/${name}.zip)
  # -X: no owner and no extra times, only what any unzip reads.
  run(${ZIP} -X -D -q -9 ${zip} ${files} WORKING_DIRECTORY ${work})
  set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
else()
  find_program(TAR tar REQUIRED)
  find_program(GZIP gzip REQUIRED)
  set(tarball ${out}/${name}.tar.gz)
  execute_process(
    COMMAND ${TAR} --create --format=gnu --sort=name --owner=0 --group=0
            --numeric-owner --mtime=@${epoch} --file=- ${name}
    COMMAND ${GZIP} -9n
    WORKING_DIRECTORY ${work} OUTPUT_FILE ${tarball}
    COMMAND_ERROR_IS_FATAL ANY)
  set(CPACK_EXTERNAL_BUILT_PACKAGES ${tarball})
endif()
