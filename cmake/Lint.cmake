# The style and static checks: cmake -DSOURCE_DIR= -DBUILD_DIR= -P Lint.cmake
# clang-format must leave every file as it is; clang-tidy must find nothing
# in the program as the native build compiles it. Only findings are printed:
# clang-tidy's counts of the system headers' warnings it hides are not.
#
# The sources follow clang-format and clang-tidy 14 (Debian 12's). Later
# versions judge a few lines otherwise (19 lays out `struct stat st {}` as
# `st{}`, and adds clock_gettime to the calls whose result must be used):
# under them a finding is reported as a skip naming its lines, not as a
# fault, so that no version fails what 14 passes.
find_program(clang_format clang-format)
find_program(clang_tidy clang-tidy)
if(NOT clang_format OR NOT clang_tidy)
  message(STATUS "skipped: clang-format or clang-tidy not found")
  return()
endif()

set(skips "")
# Judges a tool's run: TOOL's STATUS and OUTPUT; findings are the lines of
# OUTPUT that match "file:line:column: error".
macro(judge tool status output)
  execute_process(COMMAND ${tool} --version OUTPUT_VARIABLE version)
  string(REGEX MATCH "version ([0-9]+)" _ "${version}")
  set(major "${CMAKE_MATCH_1}")
  get_filename_component(name ${tool} NAME)
  if(NOT ${status} EQUAL 0 AND NOT major STREQUAL "14")
    string(REGEX MATCHALL "[^\n/]+:[0-9]+:[0-9]+: error" findings "${${output}}")
    list(TRANSFORM findings REPLACE ":[0-9]+: error$" "")
    list(REMOVE_DUPLICATES findings)
    list(JOIN findings ", " findings)
    list(APPEND skips "${name} ${major} judges ${findings} otherwise than version 14")
    set(${status} 0)
  elseif(NOT ${status} EQUAL 0)
    message("${${output}}")
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
if(skips)
  list(JOIN skips "; " skips)
  message("skipped: ${skips}")
  return()
endif()
message(STATUS "lint: clean")
