# Included by a toolchain file that sets debian_arch (such as arm64) and
# toolchain_prefix (its GNU triplet, such as aarch64-linux-gnu), after
# CMAKE_CXX_COMPILER: makes Debian's C library for that architecture the
# program's sysroot, in place of the copy that comes with Debian's cross
# compiler. That copy (libc6-dev-ARCH-cross) is built by
# cross-toolchain-base, seldom, and lags the archive's glibc by its security
# updates; its source package holds no glibc source either.
#
# libc6 and libc6-dev for debian_arch are downloaded by apt, which checks
# them against the archive's signed index, at the version of this machine's
# own libc6: the version that multiarch would pair with it, and the one
# that a native build links. apt reads the machine's own sources, and keeps
# its lists for debian_arch in the build folder.
#
# Sets CMAKE_SYSROOT, the flags that put the sysroot's C library and headers
# before the cross compiler's, and SCORE_LOOKUP_SYSROOT_DEBS: the .deb files
# unpacked there, which cmake/runtime.cmake reads to name what is linked.
if(NOT DEFINED SCORE_LOOKUP_SYSROOT_BASE)
  set(SCORE_LOOKUP_SYSROOT_BASE ${CMAKE_BINARY_DIR}/debian-${debian_arch})
endif()
# try_compile reads this file again, in a folder of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SCORE_LOOKUP_SYSROOT_BASE)
set(base ${SCORE_LOOKUP_SYSROOT_BASE})

get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT in_try_compile)
  foreach(tool dpkg dpkg-query dpkg-deb apt-get)
    string(MAKE_C_IDENTIFIER "SCORE_LOOKUP_${tool}" var)
    string(TOUPPER ${var} var)
    find_program(${var} ${tool})
    if(NOT ${var})
      message(FATAL_ERROR "This cross build takes Debian's C library for "
        "${debian_arch} from apt, and needs ${tool}: build it on Debian.")
    endif()
  endforeach()
  execute_process(COMMAND ${SCORE_LOOKUP_DPKG} --print-architecture
    OUTPUT_VARIABLE host_arch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
    COMMAND ${SCORE_LOOKUP_DPKG_QUERY} --show --showformat=\${Version}
            libc6:${host_arch}
    OUTPUT_VARIABLE libc_version COMMAND_ERROR_IS_FATAL ANY)
  set(wanted "libc6:${debian_arch}=${libc_version}"
    "libc6-dev:${debian_arch}=${libc_version}")
  if(EXISTS ${base}/unpacked AND IS_DIRECTORY ${base}/root)
    file(READ ${base}/unpacked unpacked)
  endif()
  if(NOT "${unpacked}" STREQUAL "${wanted}")
    list(JOIN wanted " " shown)
    message(STATUS "Downloading ${shown}")
    file(REMOVE_RECURSE ${base})
    file(MAKE_DIRECTORY ${base}/apt/lists/partial ${base}/apt/cache ${base}/debs)
    # The machine's own sources and settings, with lists of our own, for
    # debian_arch alone.
    file(WRITE ${base}/apt/apt.conf "\
Dir::State::Lists \"${base}/apt/lists\";
Dir::Cache \"${base}/apt/cache\";
APT::Architecture \"${debian_arch}\";
#clear APT::Architectures;
APT::Architectures { \"${debian_arch}\"; };
Acquire::Languages \"none\";
APT::Sandbox::User \"root\";
")
    set(apt ${SCORE_LOOKUP_APT_GET} -c ${base}/apt/apt.conf -q)
    # A source that fails need not be the one that holds the C library:
    # the download decides.
    execute_process(COMMAND ${apt} update
      OUTPUT_VARIABLE apt_said ERROR_VARIABLE apt_said)
    execute_process(COMMAND ${apt} download ${wanted}
      WORKING_DIRECTORY ${base}/debs RESULT_VARIABLE failed
      OUTPUT_VARIABLE download_said ERROR_VARIABLE download_said)
    if(failed)
      message(FATAL_ERROR "${apt_said}${download_said}\n"
        " Cannot download ${wanted} from this machine's apt sources. The "
        "version must be this machine's libc6: if the archive has a newer "
        "one, upgrade to it first (apt-get install --only-upgrade libc6 "
        "libc6-dev), and try again online.")
    endif()
    file(GLOB debs ${base}/debs/*.deb)
    foreach(deb IN LISTS debs)
      execute_process(COMMAND ${SCORE_LOOKUP_DPKG_DEB} --extract ${deb} ${base}/root
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    file(REMOVE_RECURSE ${base}/apt)
    file(WRITE ${base}/unpacked "${wanted}")
  endif()
endif()

set(CMAKE_SYSROOT ${base}/root)
file(GLOB SCORE_LOOKUP_SYSROOT_DEBS ${base}/debs/*.deb)

# The cross compiler searches its own C library before the sysroot's: -B
# puts the sysroot's start files and libraries first. Its own headers come
# first too, so the sysroot's are named, after the compiler's C++ and
# builtin headers (which reach for them with #include_next) and before the
# rest; the kernel's headers, which glibc does not ship, are still the
# cross compiler's. GCC keeps each folder only where it is named first.
set(libdir ${CMAKE_SYSROOT}/usr/lib/${toolchain_prefix})
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B\"${libdir}/\"")
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -x c++ -E -v -
  INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE compiler_said
  COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)\nEnd of search list.*"
  "\\1" searched "${compiler_said}")
string(REGEX REPLACE "\n? +" ";" searched "${searched}")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "")
foreach(dir IN LISTS searched)
  if(NOT dir)
    continue()
  elseif(EXISTS ${dir}/features.h) # the C library's
    break()
  endif()
  list(APPEND CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${dir})
endforeach()
list(APPEND CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${CMAKE_SYSROOT}/usr/include/${toolchain_prefix}
  ${CMAKE_SYSROOT}/usr/include)
