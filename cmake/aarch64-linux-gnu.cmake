# 64-bit Arm Linux program from Debian's cross compiler (package
# g++-aarch64-linux-gnu), linked against Debian's own arm64 C library
# (libc6-dev:arm64, through multiarch), run under qemu-user for the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(toolchain_prefix aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER ${toolchain_prefix}-g++)

# The cross compiler's own copy (libc6-dev-arm64-cross) is built by
# cross-toolchain-base, seldom, and lags the archive's glibc by its security
# updates; its source package holds no glibc source either.
set(libdir /usr/lib/${toolchain_prefix})
if(NOT EXISTS ${libdir}/libc.a)
  # Leading spaces keep CMake from breaking the lines.
  message(FATAL_ERROR " No ${libdir}/libc.a: this build links Debian's C\n"
    " library for arm64. Install the package libc6-dev:arm64, after\n"
    "   dpkg --add-architecture arm64")
endif()

# The cross compiler searches its own C library first: -B and -L put the
# multiarch start files and libraries before it. Its own headers come first
# too, so the multiarch ones are named, after the compiler's C++ and builtin
# headers (which reach for them with #include_next) and before the rest.
# GCC keeps each folder only where it is named first.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${libdir}/ -L${libdir}")
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
  /usr/include/${toolchain_prefix} /usr/include)

# The static program needs no arm64 libraries beside it, and qemu no binfmt.
find_program(QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64})
endif()
