# Makes the release twice, from two clones of the committed tree in different
# folders, and expects the same files byte for byte. Each tree goes through
# the release workflow's steps one test at a time, so that CTest reports each
# as it ends; the second tree's files are made a whole build after the
# first's, well past zip's two-second times. Says "skipped:", with git's
# words, where git finds no commit.
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DTREE=one|another -DSTEP=configure|build|test|dist -P release.cmake
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DSTEP=compare -P release.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --verify -q HEAD
  RESULT_VARIABLE no_commit OUTPUT_QUIET ERROR_VARIABLE why)
if(no_commit)
  string(REGEX REPLACE "[ \t\n]+" " " why "${why}")
  message(STATUS "skipped: git finds no commit in ${SOURCE_DIR}: ${why}")
  return()
endif()
set(one ${WORK_DIR}/one/anykey)
set(another ${WORK_DIR}/another/place/anykey-src)

if(STEP STREQUAL "compare")
  # In each tree, the files that SHA256SUMS names and no others; then the
  # same bytes in both trees, and where they differ, what differs.
  foreach(tree one another)
    set(dist ${${tree}}/build/release/dist)
    file(GLOB files RELATIVE ${dist} ${dist}/*)
    list(REMOVE_ITEM files SHA256SUMS)
    file(STRINGS ${dist}/SHA256SUMS listed)
    list(TRANSFORM listed REPLACE "^[0-9a-f]+  " "")
    list(SORT files)
    list(SORT listed)
    if(NOT files OR NOT files STREQUAL listed)
      message(FATAL_ERROR "the release files in ${dist} (${files}) are not those SHA256SUMS "
        "names (${listed})")
    endif()
  endforeach()
  find_program(diffoscope diffoscope)
  set(different "")
  foreach(name IN LISTS files ITEMS SHA256SUMS)
    set(a ${one}/build/release/dist/${name})
    set(b ${another}/build/release/dist/${name})
    file(SHA256 ${a} sum_a)
    file(SHA256 ${b} sum_b)
    message(STATUS "${sum_a}  ${name}")
    if(NOT sum_a STREQUAL sum_b)
      list(APPEND different ${name})
      if(diffoscope)
        execute_process(COMMAND ${diffoscope} --no-progress --text - ${a} ${b})
      else()
        execute_process(COMMAND cmp ${a} ${b})  # the first byte that differs
      endif()
    endif()
  endforeach()
  if(different)
    message(FATAL_ERROR "the two releases differ: ${different}")
  endif()
  return()
endif()

set(clone ${${TREE}})
set(configure ${CMAKE_COMMAND} --preset release)
set(build ${CMAKE_COMMAND} --build --preset release)
set(test ${CMAKE_CTEST_COMMAND} --preset release)
set(dist ${CMAKE_COMMAND} --build --preset release-dist)
if(STEP STREQUAL "configure")
  file(REMOVE_RECURSE ${clone})
  execute_process(COMMAND git clone -q ${SOURCE_DIR} ${clone} COMMAND_ERROR_IS_FATAL ANY)
endif()
# The commit's date, as for a packager who sets nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH ${${STEP}}
  WORKING_DIRECTORY ${clone} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${STEP} in ${clone} failed:\n${out}")
endif()
