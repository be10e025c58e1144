# The Windows images, the static x86-64 executable, the ARM Linux files and
# the macOS executables are cross builds of this same tree, made as sub-builds so that one
# configure of the native tree builds and tests them all. Each is skipped,
# saying why, when what it is built with is not installed.
include(ExternalProject)

option(ANYKEY_WINDOWS "Also build the Windows images when the cross compilers are there" ON)
option(ANYKEY_STATIC "Also build the static Linux executable when musl is there" ON)
option(ANYKEY_ARM "Also build the ARM Linux files when the cross compilers are there" ON)
option(ANYKEY_ARM_MACHINES "Run the terminal suite on ARM kernels in emulated machines" OFF)

# The sub-build NAME in ${CMAKE_BINARY_DIR}/NAME, target anykey_NAME, with
# the toolchain file TOOLCHAIN and the cache settings in ARGS; it builds the
# given TARGETS in turn (all by default), with the environment settings in
# ENV (VAR=value) for its configure and builds, after the targets in DEPENDS.
# Adds NAME to the KIND list ANYKEY_<KIND>_BUILDS, its target to
# ANYKEY_<KIND>_BUILDS_TARGETS, and sets ANYKEY_<NAME>_DIR.
function(anykey_cross_build kind name)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "TOOLCHAIN" "ARGS;TARGETS;BYPRODUCTS;ENV;DEPENDS")
  set(dir ${CMAKE_BINARY_DIR}/${name})
  set(env ${CMAKE_COMMAND} -E env ${arg_ENV})
  if(NOT arg_TARGETS)
    set(arg_TARGETS all)
  endif()
  set(build "")
  foreach(target IN LISTS arg_TARGETS)
    list(APPEND build COMMAND ${env} ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${target})
  endforeach()
  list(POP_FRONT build)
  list(TRANSFORM arg_BYPRODUCTS PREPEND ${dir}/)
  set(depends "")
  if(arg_DEPENDS)
    set(depends DEPENDS ${arg_DEPENDS})
  endif()
  ExternalProject_Add(anykey_${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CONFIGURE_COMMAND ${env} ${CMAKE_COMMAND} -G ${CMAKE_GENERATOR} -S <SOURCE_DIR> -B <BINARY_DIR>
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${arg_TOOLCHAIN}.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel ${arg_ARGS}
    BUILD_ALWAYS ON
    BUILD_COMMAND ${build}
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${arg_BYPRODUCTS}
    ${depends})
  set(ANYKEY_${name}_DIR ${dir} PARENT_SCOPE)
  set(ANYKEY_${kind}_BUILDS ${ANYKEY_${kind}_BUILDS} ${name} PARENT_SCOPE)
  set(ANYKEY_${kind}_BUILDS_TARGETS ${ANYKEY_${kind}_BUILDS_TARGETS} anykey_${name} PARENT_SCOPE)
endfunction()

# Why a sub-build cannot be made here, in OUT (empty if it can): the switch
# that turns it off, or the first of the given programs or files missing.
function(anykey_cross_lacks out switch)
  set(${out} "" PARENT_SCOPE)
  if(NOT ${switch})
    set(${out} "${switch} is off" PARENT_SCOPE)
    return()
  endif()
  while(ARGN)
    list(POP_FRONT ARGN kind what package)
    if(kind STREQUAL "PROGRAM")
      string(MAKE_C_IDENTIFIER "ANYKEY_${what}" variable)
      find_program(${variable} ${what})
      set(found ${${variable}})
    elseif(EXISTS ${what})
      set(found ON)
    else()
      set(found "")
    endif()
    if(NOT found)
      set(${out} "${what} not found (Debian's ${package})" PARENT_SCOPE)
      return()
    endif()
  endwhile()
endfunction()

set(ANYKEY_WINDOWS_BUILDS "")
set(ANYKEY_WINDOWS_BUILDS_TARGETS "")
set(ANYKEY_STATIC_BUILDS "")
set(ANYKEY_STATIC_BUILDS_TARGETS "")
set(ANYKEY_ARM_BUILDS "")
set(ANYKEY_ARM_BUILDS_TARGETS "")

# The Windows images; with the tests, also the console driver run under Wine.
# The .zip is made with the image.
foreach(row "win32|mingw-i686|i686-w64-mingw32|g++-mingw-w64-i686"
            "win64|mingw-x86_64|x86_64-w64-mingw32|g++-mingw-w64-x86-64")
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row name toolchain prefix package)
  anykey_cross_lacks(lack ANYKEY_WINDOWS PROGRAM ${prefix}-g++ ${package})
  if(lack)
    message(STATUS "anykey: ${lack}, no ${name} build")
    continue()
  endif()
  anykey_cross_build(WINDOWS ${name} TOOLCHAIN ${toolchain}
    ARGS -DANYKEY_CONSOLE_DRIVER=${ANYKEY_TESTS}
    TARGETS all package
    BYPRODUCTS anykey.exe anykey.map console_driver.exe sleep_loop.exe spin_loop.exe)
  set(ANYKEY_${name}_EXE ${ANYKEY_${name}_DIR}/anykey.exe)
  set(ANYKEY_${name}_OBJDUMP ${prefix}-objdump)
endforeach()

# The static x86-64 executable, against musl through musl-gcc; made on
# x86-64 hosts only. Without it, ANYKEY_STATIC_MISSING says why.
set(ANYKEY_STATIC_EXE "")
set(ANYKEY_STATIC_TARGET "")
anykey_cross_lacks(ANYKEY_STATIC_MISSING ANYKEY_STATIC PROGRAM musl-gcc musl-tools)
if(NOT ANYKEY_STATIC_MISSING AND NOT CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(ANYKEY_STATIC_MISSING "the static executable is made on x86-64 hosts only")
endif()
if(ANYKEY_STATIC_MISSING)
  message(STATUS "anykey: ${ANYKEY_STATIC_MISSING}, no static build")
else()
  anykey_cross_build(STATIC static TOOLCHAIN musl-x86_64 TARGETS anykey BYPRODUCTS anykey)
  set(ANYKEY_STATIC_EXE ${ANYKEY_static_DIR}/anykey)
  set(ANYKEY_STATIC_TARGET anykey_static)
endif()

# The ARM Linux files: for each, the packaged executable against glibc, its
# .deb, and the static one against musl for that architecture (static/).
# With ANYKEY_ARM_MACHINES, also the terminal suite built to run in that
# architecture's emulated machine.
foreach(row "aarch64|aarch64-linux-gnu|g++-aarch64-linux-gnu|aarch64-linux-musl|arm64"
            "armhf|arm-linux-gnueabihf|g++-arm-linux-gnueabihf|arm-linux-musleabihf|armhf")
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row name prefix package musl deb_arch)
  anykey_cross_lacks(lack ANYKEY_ARM PROGRAM ${prefix}-g++ ${package}
    FILE /usr/lib/${musl}/musl-gcc.specs musl-dev:${deb_arch})
  if(lack)
    message(STATUS "anykey: ${lack}, no ${name} build")
    continue()
  endif()
  set(guest "")
  if(ANYKEY_ARM_MACHINES)
    set(guest tests/machines/guest_suite)
  endif()
  anykey_cross_build(ARM ${name} TOOLCHAIN ${prefix}
    ARGS -DANYKEY_STATIC_TOO=ON -DANYKEY_GUEST_SUITE=${ANYKEY_ARM_MACHINES}
    BYPRODUCTS anykey static/anykey ${guest})
  set(ANYKEY_${name}_LIBC /usr/${prefix}/lib)
endforeach()

# The macOS executables, for Intel and for Apple's own processors, with Zig's
# toolchain; only with ANYKEY_MACOS (the macos workflow): the first fetch of
# Zig is 72 MB. cmake/MacBuilds.cmake fetches it and sets these up.
include(${CMAKE_CURRENT_LIST_DIR}/MacBuilds.cmake)
