# The two Windows images are cross builds of this same tree, made as
# sub-builds so that one configure of the native tree builds and tests all
# three. They are skipped when the cross compilers are not installed.
include(ExternalProject)

option(ANYKEY_WINDOWS "Also build the Windows images when the cross compilers are there" ON)
set(ANYKEY_WINDOWS_TOOLCHAINS
  win32 mingw-i686 i686-w64-mingw32
  win64 mingw-x86_64 x86_64-w64-mingw32)
set(ANYKEY_WINDOWS_BUILDS "")
set(ANYKEY_WINDOWS_BUILDS_TARGETS "")
while(ANYKEY_WINDOWS AND ANYKEY_WINDOWS_TOOLCHAINS)
  list(POP_FRONT ANYKEY_WINDOWS_TOOLCHAINS name toolchain prefix)
  find_program(ANYKEY_${name}_CXX ${prefix}-g++)
  if(NOT ANYKEY_${name}_CXX)
    message(STATUS "anykey: ${prefix}-g++ not found, no ${name} build")
    continue()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/${name})
  ExternalProject_Add(anykey_${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
      -DANYKEY_CONSOLE_DRIVER=${ANYKEY_TESTS}
    BUILD_ALWAYS ON
    # The .zip is made with the image.
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
      COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target package
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dir}/anykey.exe ${dir}/anykey.map ${dir}/console_driver.exe
      ${dir}/sleep_loop.exe ${dir}/spin_loop.exe)
  set(ANYKEY_${name}_EXE ${dir}/anykey.exe)
  set(ANYKEY_${name}_OBJDUMP ${prefix}-objdump)
  set(ANYKEY_${name}_DIR ${dir})
  list(APPEND ANYKEY_WINDOWS_BUILDS ${name})
  list(APPEND ANYKEY_WINDOWS_BUILDS_TARGETS anykey_${name})
endwhile()
