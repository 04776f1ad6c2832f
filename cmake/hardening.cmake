# How the program is linked and hardened, with the protections that Debian's
# dpkg-buildflags gives every program under hardening=+all. Each flag is
# checked at configure time and left out quietly where the toolchain lacks
# it; MSVC's own defaults (/GS, /DYNAMICBASE, /NXCOMPAT) already cover it.
# A user's or distribution's CXXFLAGS and LDFLAGS come on top of these.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

# Sets SCORE_LOOKUP_LINKAGE to static-pie, static or dynamic.
function(score_lookup_link_and_harden target)
  set(harden ${SCORE_LOOKUP_HARDEN})
  set(SCORE_LOOKUP_LINKAGE dynamic PARENT_SCOPE)
  if(MSVC)
    if(SCORE_LOOKUP_STATIC)
      set_target_properties(${target} PROPERTIES
        MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    endif()
    return()
  endif()

  # Static and position independent where the C library can relocate
  # itself (ELF only: a Windows .exe gets its ASLR from DYNAMIC_BASE).
  set(static_pie OFF)
  if(SCORE_LOOKUP_STATIC AND harden AND NOT WIN32)
    set(CMAKE_REQUIRED_FLAGS ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
    check_linker_flag(CXX -static-pie SCORE_LOOKUP_HAS_STATIC_PIE)
    set(static_pie ${SCORE_LOOKUP_HAS_STATIC_PIE})
  endif()
  if(static_pie)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(${target} PRIVATE -static-pie)
    set(SCORE_LOOKUP_LINKAGE static-pie PARENT_SCOPE)
  elseif(SCORE_LOOKUP_STATIC)
    # -static with -pie gives a broken program on some toolchains: no PIE.
    check_linker_flag(CXX -static SCORE_LOOKUP_HAS_STATIC)
    if(SCORE_LOOKUP_HAS_STATIC)
      target_link_options(${target} PRIVATE -static)
      set(SCORE_LOOKUP_LINKAGE static PARENT_SCOPE)
    endif()
  elseif(harden)
    check_pie_supported(LANGUAGES CXX)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
  if(NOT harden)
    return()
  endif()

  set(compile_flags -fstack-protector-strong -Wformat -Werror=format-security)
  set(link_flags -fstack-protector-strong) # links the support library in
  if(WIN32)
    list(APPEND link_flags LINKER:--dynamicbase LINKER:--nxcompat)
  else()
    list(APPEND compile_flags -fstack-clash-protection -fcf-protection)
    # pack-relative-relocs makes the static-pie's start-up relocation cheaper.
    list(APPEND link_flags LINKER:-z,relro LINKER:-z,now
      LINKER:-z,pack-relative-relocs)
  endif()
  set(CMAKE_REQUIRED_FLAGS -Wformat) # -Werror=format-security needs it
  foreach(flag IN LISTS compile_flags)
    string(MAKE_C_IDENTIFIER "SCORE_LOOKUP_CXX${flag}" var)
    check_cxx_compiler_flag(${flag} ${var})
    if(${var})
      target_compile_options(${target} PRIVATE ${flag})
    endif()
  endforeach()
  foreach(flag IN LISTS link_flags)
    string(MAKE_C_IDENTIFIER "SCORE_LOOKUP_LD${flag}" var)
    check_linker_flag(CXX ${flag} ${var})
    if(${var})
      target_link_options(${target} PRIVATE ${flag})
    endif()
  endforeach()

  # Fortification needs optimisation, and a distribution may choose its own
  # level in CXXFLAGS.
  if(NOT WIN32 AND NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
    target_compile_definitions(${target} PRIVATE
      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  endif()
endfunction()
