# Run by cpack on the staged install. Makes the .deb (dpkg-deb) and the
# .tar.gz (GNU tar) on Linux, the .zip (Info-ZIP) for Windows. Whoever
# builds, their umask, clock, time zone, locale and file system must not
# show: every file is stripped the Debian way, owned by root, given fixed
# modes and the release's time, and packed in name order.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  set(epoch ${CPACK_SCORE_LOOKUP_SOURCE_DATE_EPOCH})
endif()
set(ENV{SOURCE_DATE_EPOCH} ${epoch}) # dpkg-deb, and strip on a PE file
set(ENV{TZ} UTC) # a zip keeps local times
set(ENV{LC_ALL} C)

# A package of a program with a runtime linked in must say what that
# runtime is; one without it would need dependencies that it does not name.
if(NOT CPACK_SCORE_LOOKUP_LINKAGE MATCHES "^static")
  message(FATAL_ERROR "The packages hold a statically linked program; this "
    "build links it ${CPACK_SCORE_LOOKUP_LINKAGE} (SCORE_LOOKUP_STATIC).")
endif()
if(NOT CPACK_SCORE_LOOKUP_NOTICES)
  message(FATAL_ERROR "The packages would not name the runtime linked into "
    "the program: configure found no dpkg-query or no package owning it.")
endif()

# CPack stages each component in a folder of its own, if there are several.
set(staged ${CPACK_TEMPORARY_DIRECTORY})
if(CPACK_COMPONENTS_ALL)
  string(APPEND staged /Unspecified)
endif()
set(work ${CPACK_TOPLEVEL_DIRECTORY}/pack)
set(name ${CPACK_PACKAGE_FILE_NAME})
set(version ${CPACK_PACKAGE_VERSION})
set(out ${work}/out) # cpack copies the packages on from here
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${out})

function(run)
  execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Copies the staged files of COMPONENT into DIR, as the packages hold them.
function(lay_out component dir)
  string(REPLACE /Unspecified /${component} from ${staged})
  file(COPY ${from}/ DESTINATION ${dir})
endfunction()

function(settle dir)
  run(chmod -R u=rwX,go=rX ${dir})
  run(find ${dir} -exec touch --no-dereference --date=@${epoch} {} +)
endfunction()

# Strip as Debian's dh_strip does: no symbols and no compiler banners.
if(CPACK_SCORE_LOOKUP_WINDOWS)
  set(program ${staged}/score_lookup.exe)
else()
  set(program ${staged}/bin/score_lookup)
endif()
run(${CPACK_SCORE_LOOKUP_STRIP} --remove-section=.comment
  --remove-section=.note ${program})

if(CPACK_SCORE_LOOKUP_WINDOWS)
  find_program(ZIP zip REQUIRED)
  lay_out(Unspecified ${work}/${name})
  settle(${work})
  file(GLOB_RECURSE files RELATIVE ${work} ${work}/${name}/*)
  list(SORT files)
  set(zip ${out}/${name}.zip)
  # -X: no owner and no extra times, only what any unzip reads.
  run(${ZIP} -X -D -q -9 ${zip} ${files} WORKING_DIRECTORY ${work})
  set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
  return()
endif()

# The tarball: the installed tree for any Linux system, with the notices.
find_program(TAR tar REQUIRED)
find_program(GZIP gzip REQUIRED)
lay_out(Unspecified ${work}/tar/${name})
lay_out(notices ${work}/tar/${name})
settle(${work}/tar)
set(tarball ${out}/${name}.tar.gz)
execute_process(
  COMMAND ${TAR} --create --format=gnu --sort=name --owner=0 --group=0
          --numeric-owner --mtime=@${epoch} --file=- ${name}
  COMMAND ${GZIP} -9n
  WORKING_DIRECTORY ${work}/tar OUTPUT_FILE ${tarball}
  COMMAND_ERROR_IS_FATAL ANY)

# The .deb: the same tree under /usr, with Debian's own files instead of the
# notices, whose texts every Debian system has.
find_program(DPKG dpkg REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
set(root ${work}/deb)
lay_out(Unspecified ${root}/usr)
lay_out(debian ${root}/usr)
file(GLOB_RECURSE files LIST_DIRECTORIES true RELATIVE ${root} ${root}/usr/*)
list(SORT files)
# Installed-Size as dpkg-gencontrol counts it: KiB a file, rounded up, and 1
# a folder, whatever the file system says.
set(kib 1)
set(md5sums "")
foreach(file IN LISTS files)
  if(IS_DIRECTORY ${root}/${file})
    math(EXPR kib "${kib} + 1")
  else()
    file(SIZE ${root}/${file} size)
    math(EXPR kib "${kib} + (${size} + 1023) / 1024")
    file(MD5 ${root}/${file} md5)
    string(APPEND md5sums "${md5}  ${file}\n")
  endif()
endforeach()
execute_process(COMMAND ${DPKG} --print-architecture
  OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "\n\n" "\n.\n" description
  "${CPACK_SCORE_LOOKUP_DEB_DESCRIPTION}")
string(REGEX REPLACE "\n" "\n " description "${description}")
set(control "Package: ${CPACK_SCORE_LOOKUP_DEB_NAME}
Version: ${version}
Architecture: ${arch}
Maintainer: ${CPACK_PACKAGE_CONTACT}
Installed-Size: ${kib}
Section: ${CPACK_SCORE_LOOKUP_DEB_SECTION}
Priority: optional
Built-Using: ${CPACK_SCORE_LOOKUP_DEB_BUILT_USING}
Description: ${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 ${description}
")
file(WRITE ${root}/DEBIAN/control "${control}")
file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")
settle(${root})
set(deb ${out}/${CPACK_SCORE_LOOKUP_DEB_NAME}_${version}_${arch}.deb)
run(${DPKG_DEB} --root-owner-group -Zxz --build ${root} ${deb})
set(CPACK_EXTERNAL_BUILT_PACKAGES ${tarball} ${deb})
