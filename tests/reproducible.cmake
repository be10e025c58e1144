# Builds the project twice, from two copies of the source in different
# folders, and expects byte-identical images from every build. One step a
# test, so that CTest reports each as it ends:
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DSTEP=one|another -P reproducible.cmake
#   cmake -DWORK_DIR= -DSTEP=compare -DIMAGES=anykey;... -P reproducible.cmake
cmake_minimum_required(VERSION 3.25)
set(one ${WORK_DIR}/one/source)
set(another ${WORK_DIR}/another/place/src)

if(STEP STREQUAL "compare")
  foreach(image IN LISTS IMAGES)
    if(NOT EXISTS ${one}-build/${image} OR NOT EXISTS ${another}-build/${image})
      message(FATAL_ERROR "no ${image} was built")
    endif()
    file(SHA256 ${one}-build/${image} a)
    file(SHA256 ${another}-build/${image} b)
    if(NOT a STREQUAL b)
      message(FATAL_ERROR "${image} differs between ${one}-build and ${another}-build")
    endif()
    message(STATUS "${image}: ${a}")
  endforeach()
  return()
endif()

set(source ${${STEP}})
file(REMOVE_RECURSE ${source} ${source}-build)
file(COPY ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/README.md ${SOURCE_DIR}/src
  ${SOURCE_DIR}/cmake ${SOURCE_DIR}/doc DESTINATION ${source})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${source} -B ${source}-build -DANYKEY_TESTS=OFF
  COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${source}-build
  COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
