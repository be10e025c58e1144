# The style and static checks: cmake -DSOURCE_DIR= -DBUILD_DIR= -P Lint.cmake
# clang-format must leave every file as it is; clang-tidy must find nothing
# in the program as the native build compiles it. Only findings are printed:
# clang-tidy's counts of the system headers' warnings it hides are not.
find_program(clang_format clang-format)
find_program(clang_tidy clang-tidy)
if(NOT clang_format OR NOT clang_tidy)
  message(STATUS "skipped: clang-format or clang-tidy not found")
  return()
endif()
file(GLOB_RECURSE sources ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h
  ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)
# The sources are laid out by clang-format 14 (Debian 12's). Other versions
# lay out a few lines otherwise (19 writes `struct stat st{}`, 14
# `struct stat st {}`): there, a difference is reported as a skip naming the
# files, not as a fault, and the rest of the check still counts.
execute_process(COMMAND ${clang_format} --version OUTPUT_VARIABLE format_version)
string(REGEX MATCH "version ([0-9]+)" _ "${format_version}")
set(format_major ${CMAKE_MATCH_1})
execute_process(COMMAND ${clang_format} --dry-run --Werror ${sources}
  RESULT_VARIABLE format_status ERROR_VARIABLE format_out)
set(format_skip "")
if(NOT format_status EQUAL 0 AND NOT format_major STREQUAL "14")
  string(REGEX MATCHALL "[^\n/]+:[0-9]+:[0-9]+: error" differing "${format_out}")
  list(TRANSFORM differing REPLACE ":[0-9]+: error$" "")
  list(REMOVE_DUPLICATES differing)
  list(JOIN differing ", " differing)
  set(format_skip "clang-format ${format_major} lays out ${differing} otherwise than clang-format 14, which the sources follow")
  set(format_status 0)
elseif(NOT format_status EQUAL 0)
  message("${format_out}")
endif()
file(GLOB_RECURSE checked ${SOURCE_DIR}/src/program/*.cpp ${SOURCE_DIR}/src/console/*.cpp
  ${SOURCE_DIR}/src/platform/*.cpp)
execute_process(COMMAND ${clang_tidy} --quiet -p ${BUILD_DIR} ${checked}
  RESULT_VARIABLE tidy_status OUTPUT_VARIABLE tidy_out ERROR_VARIABLE tidy_out)
string(REGEX REPLACE "\n([0-9]+ warnings? generated\\.|Suppressed [0-9]+ warnings[^\n]*|Use -header-filter=[^\n]*)" ""
  tidy_out "\n${tidy_out}")
string(STRIP "${tidy_out}" tidy_out)
if(tidy_out)
  message("${tidy_out}")
endif()
if(NOT format_status EQUAL 0 OR NOT tidy_status EQUAL 0)
  message(FATAL_ERROR "lint: clang-format ${format_status}, clang-tidy ${tidy_status}")
endif()
if(format_skip)
  message("skipped: ${format_skip}; clang-tidy found nothing")
  return()
endif()
message(STATUS "lint: clean")
