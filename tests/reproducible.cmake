# Builds the project twice, from two copies of the source in different
# folders, and expects byte-identical images from all three builds.
# cmake -DSOURCE_DIR= -DWORK_DIR= -P reproducible.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(images anykey win32/anykey.exe win64/anykey.exe)
foreach(tree one/source another/place/src)
  set(source ${WORK_DIR}/${tree})
  file(COPY ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/README.md ${SOURCE_DIR}/src
    ${SOURCE_DIR}/cmake ${SOURCE_DIR}/doc DESTINATION ${source})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${source} -B ${source}-build -DANYKEY_TESTS=OFF
    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${source}-build
    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
  list(APPEND builds ${source}-build)
endforeach()
list(GET builds 0 first)
list(GET builds 1 second)
foreach(image IN LISTS images)
  if(NOT EXISTS ${first}/${image})
    message(FATAL_ERROR "no ${image} was built")
  endif()
  file(SHA256 ${first}/${image} a)
  file(SHA256 ${second}/${image} b)
  if(NOT a STREQUAL b)
    message(FATAL_ERROR "${image} differs between ${first} and ${second}")
  endif()
  message(STATUS "${image}: ${a}")
endforeach()
