# How the program is linked and hardened, with the protections that Debian's
# dpkg-buildflags gives every program under hardening=+all. Each flag is
# checked at configure time and left out quietly where the toolchain lacks
# it; MSVC's own defaults (/GS, /DYNAMICBASE, /NXCOMPAT) already cover it.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)

# Sets SCORE_LOOKUP_LINKAGE to static-pie, static or dynamic. The flags go
# in front of CMAKE_CXX_FLAGS and CMAKE_EXE_LINKER_FLAGS, so that a user's
# or a distribution's CXXFLAGS and LDFLAGS come after them and win.
function(score_lookup_link_and_harden target)
  set(compile_flags "")
  set(link_flags "")
  set(linkage dynamic)
  if(MSVC)
    if(SCORE_LOOKUP_STATIC)
      set_target_properties(${target} PROPERTIES
        MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
      set(linkage static)
    endif()
    set(SCORE_LOOKUP_LINKAGE ${linkage} PARENT_SCOPE)
    return()
  endif()

  # Static and position independent where the C library can relocate
  # itself (ELF only: a Windows .exe gets its ASLR from DYNAMIC_BASE).
  if(SCORE_LOOKUP_STATIC AND SCORE_LOOKUP_HARDEN AND NOT WIN32)
    set(CMAKE_REQUIRED_FLAGS ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
    check_linker_flag(CXX -static-pie SCORE_LOOKUP_HAS_STATIC_PIE)
    unset(CMAKE_REQUIRED_FLAGS)
    if(SCORE_LOOKUP_HAS_STATIC_PIE)
      set(linkage static-pie)
      list(APPEND compile_flags ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
      list(APPEND link_flags -static-pie)
    endif()
  endif()
  if(SCORE_LOOKUP_STATIC AND linkage STREQUAL "dynamic")
    # -static with -pie gives a broken program on some toolchains: no PIE.
    check_linker_flag(CXX -static SCORE_LOOKUP_HAS_STATIC)
    if(SCORE_LOOKUP_HAS_STATIC)
      set(linkage static)
      list(APPEND link_flags -static)
    endif()
  endif()
  if(linkage STREQUAL "dynamic" AND SCORE_LOOKUP_HARDEN)
    check_pie_supported(LANGUAGES CXX)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()

  if(SCORE_LOOKUP_HARDEN)
    set(wanted_compile_flags -fstack-protector-strong -Wformat
      -Werror=format-security)
    set(wanted_link_flags -fstack-protector-strong) # links its library in
    if(WIN32)
      list(APPEND wanted_link_flags -Wl,--dynamicbase -Wl,--nxcompat)
    else()
      list(APPEND wanted_compile_flags -fstack-clash-protection)
      # Control-flow protection, each architecture's own: Intel's CET on
      # x86, pointer authentication and BTI on 64-bit Arm. The other's flag
      # fails its check.
      list(APPEND wanted_compile_flags -fcf-protection
        -mbranch-protection=standard)
      list(APPEND wanted_link_flags -Wl,-z,relro -Wl,-z,now)
      # It makes the static-pie's start-up relocation cheaper. A dynamic
      # program would need a C library of 2.36 or later for it, which
      # dpkg-shlibdeps cannot see, so its Depends would be too weak.
      if(linkage STREQUAL "static-pie")
        list(APPEND wanted_link_flags -Wl,-z,pack-relative-relocs)
      endif()
    endif()
    set(CMAKE_REQUIRED_FLAGS -Wformat) # -Werror=format-security needs it
    foreach(flag IN LISTS wanted_compile_flags)
      string(MAKE_C_IDENTIFIER "SCORE_LOOKUP_CXX${flag}" var)
      check_cxx_compiler_flag(${flag} ${var})
      if(${var})
        list(APPEND compile_flags ${flag})
      endif()
    endforeach()
    unset(CMAKE_REQUIRED_FLAGS)
    foreach(flag IN LISTS wanted_link_flags)
      string(MAKE_C_IDENTIFIER "SCORE_LOOKUP_LD${flag}" var)
      # GNU ld only warns about a -z keyword it does not know.
      check_linker_flag(CXX "-Wl,--fatal-warnings;${flag}" ${var})
      if(${var})
        list(APPEND link_flags ${flag})
      endif()
    endforeach()

    # Fortification needs optimisation; a compiler that fortifies by itself
    # (Ubuntu's, at level 3) or a distribution's CXXFLAGS chooses the level.
    set(CMAKE_REQUIRED_FLAGS "-O2 ${CMAKE_CXX_FLAGS}")
    check_cxx_source_compiles([[
      #ifdef _FORTIFY_SOURCE
      #error fortified already
      #endif
      int main() { return 0; }]] SCORE_LOOKUP_NOT_FORTIFIED)
    if(NOT WIN32 AND SCORE_LOOKUP_NOT_FORTIFIED)
      target_compile_definitions(${target} PRIVATE
        $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    endif()
  endif()

  list(JOIN compile_flags " " compile_flags)
  list(JOIN link_flags " " link_flags)
  set(CMAKE_CXX_FLAGS "${compile_flags} ${CMAKE_CXX_FLAGS}" PARENT_SCOPE)
  set(CMAKE_EXE_LINKER_FLAGS "${link_flags} ${CMAKE_EXE_LINKER_FLAGS}"
    PARENT_SCOPE)
  set(SCORE_LOOKUP_LINKAGE ${linkage} PARENT_SCOPE)
endfunction()
