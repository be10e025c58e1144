# The terminal suite for an ARM machine, included by the ARM sub-builds:
# static, so that the machine needs no C library, with GoogleTest compiled
# from the sources Debian's libgtest-dev ships, by the same cross compiler.
# In the machine it runs /anykey, the release's static executable.
set(gtest /usr/src/googletest/googletest)
if(NOT EXISTS ${gtest}/src/gtest-all.cc)
  message(FATAL_ERROR "no GoogleTest sources in ${gtest} (Debian's libgtest-dev)")
endif()
add_library(guest_gtest STATIC ${gtest}/src/gtest-all.cc ${gtest}/src/gtest_main.cc)
target_include_directories(guest_gtest SYSTEM PUBLIC ${gtest}/include PRIVATE ${gtest})
set(dir ${PROJECT_SOURCE_DIR}/tests)
add_executable(guest_suite ${dir}/pty_session.cpp ${dir}/terminal_test.cpp
  ${dir}/shell_test.cpp ${dir}/job_control_test.cpp)
target_compile_options(guest_suite PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_compile_features(guest_suite PRIVATE cxx_std_20)
target_compile_definitions(guest_suite PRIVATE ANYKEY_BINARY="/anykey" VALGRIND="" STRACE="")
target_link_libraries(guest_suite PRIVATE guest_gtest util)
target_link_options(guest_suite PRIVATE -static -pthread)
set_target_properties(guest_suite PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/machines)
