# Builds the .deb, installs it, runs what it installed, removes it. The
# release's .deb files are linted, strictly, where they are made (Dist.cmake).
# cmake -DBUILD_DIR= -P package.cmake; says "skipped:" and stops unless run
# as root (a script cannot choose its exit code before CMake 3.29).
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT uid STREQUAL "0")
  message(STATUS "skipped: installing a package needs root")
  return()
endif()
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${BUILD_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(GLOB old ${BUILD_DIR}/anykey_*.deb)
if(old)
  file(REMOVE ${old})
endif()
run(cpack -G DEB)
file(GLOB deb ${BUILD_DIR}/anykey_*.deb)
run(dpkg -i ${deb})
run(man -w anykey)
if(NOT out MATCHES "/usr/share/man/man1/anykey.1.gz")
  message(FATAL_ERROR "the manual page is not where man looks: ${out}")
endif()
# No terminal here, so it writes its prompt and waits; SIGTERM ends it.
# CMake turns CR LF into LF in captured output, so the prompt goes to a file.
execute_process(COMMAND timeout -s TERM 1 /usr/bin/anykey OUTPUT_FILE ${BUILD_DIR}/installed.out)
file(READ ${BUILD_DIR}/installed.out prompt HEX)
string(HEX "Press any key to end polling" expected)
if(NOT prompt STREQUAL "${expected}0d0a")
  message(FATAL_ERROR "the installed program wrote: ${prompt}")
endif()
run(dpkg -r anykey)
if(EXISTS /usr/bin/anykey)
  message(FATAL_ERROR "dpkg -r left /usr/bin/anykey")
endif()
