# Boots the cached machine once, on a copy-on-write view of its disk, and
# runs the checks in it; fails on any verdict but PASS, or a missing one.
#   cmake -DCACHE_DIR= -DWORK_DIR= -DANYKEY_EXE= -DCONSOLE_DRIVER= -DSLEEP_LOOP=
#         -DGUEST_CHECKS= -DVERDICTS= -P run.cmake
# VERDICTS: how many lines the checks write (the driver's table and two more).
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
file(MAKE_DIRECTORY ${share})
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/guest_run.sh ${share}/init.sh)
file(COPY_FILE ${ANYKEY_EXE} ${share}/anykey.exe)
file(COPY_FILE ${CONSOLE_DRIVER} ${share}/console_driver.exe)
file(COPY_FILE ${SLEEP_LOOP} ${share}/sleep_loop.exe)
file(COPY_FILE ${GUEST_CHECKS} ${share}/guest_checks)
file(CHMOD ${share}/guest_checks PERMISSIONS OWNER_READ OWNER_EXECUTE)
message("loader.run: booting the machine in ${machine} (about two minutes)")
loader_boot(${machine} ${share} 900 SNAPSHOT)

if(NOT EXISTS ${share}/verdicts.txt)
  message(FATAL_ERROR "the machine wrote no verdicts (its console is above)")
endif()
file(READ ${share}/verdicts.txt text)
message("loader.run: verdicts:\n${text}")
# A list of lines; the verdicts' own semicolons, kept aside, would split them.
string(REPLACE ";" "%SEMICOLON%" lines "${text}")
string(REGEX REPLACE "\n$" "" lines "${lines}")
string(REPLACE "\n" ";" lines "${lines}")
list(LENGTH lines count)
set(verdicts ${lines})
list(FILTER verdicts EXCLUDE REGEX "^PASS ")
if(NOT count EQUAL VERDICTS)
  message(FATAL_ERROR "${count} verdicts, not ${VERDICTS}")
endif()
if(verdicts)
  string(REPLACE ";" "\n" verdicts "${verdicts}")
  string(REPLACE "%SEMICOLON%" ";" verdicts "${verdicts}")
  message(FATAL_ERROR "${verdicts}")
endif()
