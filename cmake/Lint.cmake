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
execute_process(COMMAND ${clang_format} --dry-run --Werror ${sources}
  RESULT_VARIABLE format_status)
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
message(STATUS "lint: clean")
