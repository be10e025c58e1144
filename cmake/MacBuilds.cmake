# The macOS executables, for Intel and for Apple's own processors, are cross
# builds of this same tree with Zig's toolchain, made as sub-builds as the
# Windows images are. Zig is fetched once into the cache by
# cmake/FetchZig.cmake, as the first step of the build; its own cache of
# compiled objects is kept beside it. Only with ANYKEY_MACOS (the macos
# workflow): the first fetch is 72 MB.
include(ExternalProject)

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
  set(zig_env ${CMAKE_COMMAND} -E env ZIG_GLOBAL_CACHE_DIR=${ANYKEY_ZIG_DIR}/cache)
  foreach(processor x86_64 arm64)
    set(name macos_${processor})
    set(dir ${CMAKE_BINARY_DIR}/${name})
    ExternalProject_Add(anykey_${name}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${dir}
      CONFIGURE_COMMAND ${zig_env} ${CMAKE_COMMAND} -G ${CMAKE_GENERATOR} -S <SOURCE_DIR> -B <BINARY_DIR>
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/zig-macos-${processor}.cmake
        -DANYKEY_ZIG=${ANYKEY_ZIG_DIR}/zig -DCMAKE_BUILD_TYPE=MinSizeRel
        -DCMAKE_OSX_DEPLOYMENT_TARGET=${CMAKE_OSX_DEPLOYMENT_TARGET}
      BUILD_ALWAYS ON
      BUILD_COMMAND ${zig_env} ${CMAKE_COMMAND} --build <BINARY_DIR> --target anykey
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${dir}/anykey
      DEPENDS anykey_zig)
    set(ANYKEY_${name}_DIR ${dir})
    list(APPEND ANYKEY_MACOS_BUILDS ${name})
    list(APPEND ANYKEY_MACOS_BUILDS_TARGETS anykey_${name})
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
