# The style and static checks: cmake -DSOURCE_DIR= -DBUILD_DIR= -P Lint.cmake
# clang-format must leave every file as it is; clang-tidy must find nothing
# in the program as the native build compiles it. Only findings are printed:
# clang-tidy's counts of the system headers' warnings it hides are not.
#
# The judges are the clang-format and clang-tidy that the test command
# installs: Debian 12's 14 and Debian 13's 19 (no version is in both
# distributions). Every finding fails, whichever version finds it: .clang-tidy
# asks only for checks both versions have, and the sources keep clear of the
# few constructs the two lay out or judge otherwise (`struct stat st = {}`,
# not `st {}`; clock_gettime's result cast to void), so that both give one verdict.
find_program(clang_format clang-format)
find_program(clang_tidy clang-tidy)
if(NOT clang_format OR NOT clang_tidy)
  message(STATUS "skipped: clang-format or clang-tidy not found")
  return()
endif()

# Prints the findings of a tool that failed: the lines of OUTPUT.
macro(judge tool status output)
  if(NOT ${status} EQUAL 0)
    execute_process(COMMAND ${tool} --version OUTPUT_VARIABLE version)
    message("${version}${${output}}")
  endif()
endmacro()

file(GLOB_RECURSE sources ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h
  ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)
execute_process(COMMAND ${clang_format} --dry-run --Werror ${sources}
  RESULT_VARIABLE format_status ERROR_VARIABLE format_out)
judge(${clang_format} format_status format_out)

file(GLOB_RECURSE checked ${SOURCE_DIR}/src/program/*.cpp ${SOURCE_DIR}/src/console/*.cpp
  ${SOURCE_DIR}/src/platform/*.cpp)
execute_process(COMMAND ${clang_tidy} --quiet -p ${BUILD_DIR} ${checked}
  RESULT_VARIABLE tidy_status OUTPUT_VARIABLE tidy_out ERROR_VARIABLE tidy_out)
string(REGEX REPLACE "\n([0-9]+ warnings? generated\\.|Suppressed [0-9]+ warnings[^\n]*|Use -header-filter=[^\n]*|\\[[0-9]+/[0-9]+\\] Processing file [^\n]*)" ""
  tidy_out "\n${tidy_out}")
string(STRIP "${tidy_out}" tidy_out)
judge(${clang_tidy} tidy_status tidy_out)

if(NOT format_status EQUAL 0 OR NOT tidy_status EQUAL 0)
  message(FATAL_ERROR "lint: clang-format ${format_status}, clang-tidy ${tidy_status}")
endif()
message(STATUS "lint: clean")
