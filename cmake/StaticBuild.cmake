# The static x86-64 Linux executable is a sub-build of this same tree against
# musl, made as the Windows images are. Without musl-gcc (Debian's
# musl-tools) there is none, and ANYKEY_STATIC_MISSING says why.
include(ExternalProject)

option(ANYKEY_STATIC "Also build the static Linux executable when musl is there" ON)
set(ANYKEY_STATIC_EXE "")
set(ANYKEY_STATIC_TARGET "")
find_program(ANYKEY_MUSL_GCC musl-gcc)
if(NOT ANYKEY_STATIC)
  set(ANYKEY_STATIC_MISSING "ANYKEY_STATIC is off")
elseif(NOT CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(ANYKEY_STATIC_MISSING "the static executable is made on x86-64 hosts only")
elseif(NOT ANYKEY_MUSL_GCC)
  set(ANYKEY_STATIC_MISSING "musl-gcc not found (Debian's musl-tools)")
  message(STATUS "anykey: ${ANYKEY_STATIC_MISSING}, no static build")
else()
  set(ANYKEY_STATIC_MISSING "")
  set(dir ${CMAKE_BINARY_DIR}/static)
  ExternalProject_Add(anykey_static
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/musl-x86_64.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_ALWAYS ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target anykey
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dir}/anykey)
  set(ANYKEY_STATIC_EXE ${dir}/anykey)
  set(ANYKEY_STATIC_TARGET anykey_static)
endif()
