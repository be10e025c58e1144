# The ARM Linux files are cross builds of this same tree, made as sub-builds
# as the Windows images are: for each, the packaged executable and the static
# one, and its .deb. With ANYKEY_ARM_MACHINES, also the terminal suite built
# to run in that architecture's emulated machine. Skipped when the cross
# compiler is not installed.
include(ExternalProject)

option(ANYKEY_ARM "Also build the ARM Linux files when the cross compilers are there" ON)
option(ANYKEY_ARM_MACHINES "Run the terminal suite on ARM kernels in emulated machines" OFF)
set(ANYKEY_ARM_TOOLCHAINS
  aarch64 aarch64-linux-gnu
  armhf arm-linux-gnueabihf)
set(ANYKEY_ARM_BUILDS "")
set(ANYKEY_ARM_BUILDS_TARGETS "")
while(ANYKEY_ARM AND ANYKEY_ARM_TOOLCHAINS)
  list(POP_FRONT ANYKEY_ARM_TOOLCHAINS name prefix)
  find_program(ANYKEY_${name}_CXX ${prefix}-g++)
  if(NOT ANYKEY_${name}_CXX)
    message(STATUS "anykey: ${prefix}-g++ not found, no ${name} build")
    continue()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/${name})
  set(guest "")
  if(ANYKEY_ARM_MACHINES)
    set(guest ${dir}/tests/machines/guest_suite)
  endif()
  ExternalProject_Add(anykey_${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${prefix}.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
      -DANYKEY_STATIC_TOO=ON
      -DANYKEY_GUEST_SUITE=${ANYKEY_ARM_MACHINES}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dir}/anykey ${dir}/static/anykey ${guest})
  set(ANYKEY_${name}_DIR ${dir})
  set(ANYKEY_${name}_LIBC /usr/${prefix}/lib)
  list(APPEND ANYKEY_ARM_BUILDS ${name})
  list(APPEND ANYKEY_ARM_BUILDS_TARGETS anykey_${name})
endwhile()
