# 64-bit Arm Linux program from Debian's cross compiler (package
# g++-aarch64-linux-gnu) and the archive's arm64 C library, which the first
# configure downloads (see debian-sysroot.cmake), run under
# qemu-aarch64-static (package qemu-user-static) for the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(toolchain_prefix aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER ${toolchain_prefix}-g++)

set(debian_arch arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-sysroot.cmake)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static program needs no arm64 libraries beside it, and qemu no binfmt.
find_program(QEMU_AARCH64 qemu-aarch64-static)
if(QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64})
endif()
