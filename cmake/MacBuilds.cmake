# The macOS sub-builds (included by CrossBuilds.cmake). Zig is fetched once
# into the cache by cmake/FetchZig.cmake, as the first step of the build; its
# own cache of compiled objects is kept beside it.

option(ANYKEY_MACOS "Cross-build the program for macOS with Zig" OFF)
set(ANYKEY_MACOS_BUILDS "")
set(ANYKEY_MACOS_BUILDS_TARGETS "")
set(ANYKEY_ZIG_DIR ${ANYKEY_CACHE_HOME}/zig-0.11.0 CACHE PATH "Where Zig is kept")
find_program(ANYKEY_NPM npm)
if(NOT ANYKEY_MACOS)
  set(ANYKEY_MACOS_MISSING "only in the macos workflow: cmake --workflow --preset macos")
elseif(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(ANYKEY_MACOS_MISSING "the Zig that is fetched runs on x86-64 Linux only")
elseif(NOT ANYKEY_NPM AND NOT EXISTS ${ANYKEY_ZIG_DIR}/ready)
  set(ANYKEY_MACOS_MISSING
    "npm not found, to fetch Zig; install with cmake -DANYKEY_MACOS=ON -P cmake/InstallTestDeps.cmake")
else()
  set(ANYKEY_MACOS_MISSING "")
  add_custom_target(anykey_zig
    COMMAND ${CMAKE_COMMAND} -DZIG_DIR=${ANYKEY_ZIG_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/FetchZig.cmake
    COMMENT "Zig 0.11.0 in ${ANYKEY_ZIG_DIR}")
  foreach(processor x86_64 arm64)
    anykey_cross_build(MACOS macos_${processor} TOOLCHAIN zig-macos-${processor}
      ARGS -DANYKEY_ZIG=${ANYKEY_ZIG_DIR}/zig
        -DCMAKE_OSX_DEPLOYMENT_TARGET=${CMAKE_OSX_DEPLOYMENT_TARGET}
      ENV ZIG_GLOBAL_CACHE_DIR=${ANYKEY_ZIG_DIR}/cache
      TARGETS anykey BYPRODUCTS anykey DEPENDS anykey_zig)
  endforeach()
endif()
# What the macos workflow builds: nothing when the builds cannot be made
# here, and its tests then say why.
add_custom_target(macos_images)
if(ANYKEY_MACOS_BUILDS_TARGETS)
  add_dependencies(macos_images ${ANYKEY_MACOS_BUILDS_TARGETS})
endif()
if(ANYKEY_MACOS AND ANYKEY_MACOS_MISSING)
  message(STATUS "anykey: ${ANYKEY_MACOS_MISSING}, no macOS builds")
endif()
