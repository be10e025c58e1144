# Boots the cached machine once, on a copy-on-write view of its disk, and
# runs the checks in it (guest_run.sh, guest_checks.cpp), which write their
# verdicts on its console.
#   cmake -DCACHE_DIR= -DWORK_DIR= -DGUEST_FILES= -P run.cmake
# GUEST_FILES: the programs the checks run, and the checks.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

loader_machine_dir(machine)
loader_host_lacks(lack)
if(lack)
  message("skipped: ${lack}")
  return()
elseif(NOT EXISTS ${machine}/ready)
  message(FATAL_ERROR "no machine in ${machine}: loader.root and loader.prefix did not make one")
endif()

set(share ${WORK_DIR}/run-share)
file(REMOVE_RECURSE ${share})
file(COPY ${GUEST_FILES} DESTINATION ${share})
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/guest_run.sh ${share}/init.sh)
message("loader.run: booting the machine in ${machine} (about two minutes)")
loader_boot(${machine} ${share} 900 SNAPSHOT)
machine_verdicts(${share}.console)
