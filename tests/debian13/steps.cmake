# One step of the README on a fresh Debian 13 root, as root:
#   cmake -DSTEP=root|setup|run|test|release -DSOURCE_DIR= -DCACHE_DIR= -DWORK_DIR= -P steps.cmake
# root: the bare root (mmdebstrap's minbase) made once into the cache, keyed
# on this file and the mirrors; then a fresh copy of it with a clone of the
# committed tree in /root/anykey. The other steps run the README's commands
# (the release command from the maintainers' guide), read from the files
# themselves, in that copy, with sudo left out as the
# README says for root.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../emulated_machines.cmake)

machine_host_lacks(lack ROOT "mmdebstrap, chroot and mounts" INSTALL -DANYKEY_LOADER=ON
  TOOLS mmdebstrap unshare chroot script)
if(lack)
  message("skipped: ${lack}")
  return()
endif()

set(root ${WORK_DIR}/root)
set(archives ${CACHE_DIR}/archives)  # the packages, downloaded once

# Runs COMMAND in the root as root, in a mount and process namespace of its
# own, so that the mounts and any process left behind (Wine's server) end
# with it. With KEY, on a terminal, where a key is typed a second after the
# prompt shows.
function(in_root command)
  cmake_parse_arguments(PARSE_ARGV 1 arg "KEY" "" "")
  file(WRITE ${root}/root/step.sh "cd /root/anykey && ${command}\n")
  # The root is made a mount point of its own, as a machine's / is: the
  # terminal suite's bare-root case needs to make / private.
  file(WRITE ${WORK_DIR}/enter.sh "mount --rbind ${root} ${root}
mount --rbind /dev ${root}/dev
mount --bind ${archives} ${root}/var/cache/apt/archives
exec chroot ${root} /usr/bin/env -i HOME=/root TERM=xterm \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -e /root/step.sh
")
  set(enter unshare --mount --pid --fork --mount-proc=${root}/proc /bin/sh -e ${WORK_DIR}/enter.sh)
  message("debian13.${STEP}: ${command}")
  if(NOT arg_KEY)
    execute_process(COMMAND ${enter} RESULT_VARIABLE status)
  else()
    # script gives it a terminal and writes what shows there to LOG as it comes.
    set(log ${WORK_DIR}/run.log)
    file(REMOVE ${log})
    list(JOIN enter " " enter)
    execute_process(COMMAND /bin/sh -c "
      (until grep -q 'Press any key to end polling' ${log} 2>/dev/null; do sleep 1; done
       sleep 1; printf k) | script -qfec '${enter}' ${log}"
      RESULT_VARIABLE status TIMEOUT 1800)
    file(READ ${log} shown)
    message("${shown}")
    set(shown "${shown}" PARENT_SCOPE)
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "in the Debian 13 root: `${command}` ended with ${status}")
  endif()
endfunction()

# The shell block of the README or the maintainers' guide that matches
# PATTERN, sudo left out.
function(readme_command out pattern)
  file(READ ${SOURCE_DIR}/README.md readme)
  file(READ ${SOURCE_DIR}/CONTRIBUTING.md guide)
  string(REGEX MATCHALL "```sh\n[^`]*```" blocks "${readme}${guide}")
  foreach(block IN LISTS blocks)
    if(block MATCHES "${pattern}")
      string(REGEX REPLACE "^```sh\n|\n```$" "" block "${block}")
      string(REPLACE "sudo " "" block "${block}")
      set(${out} "${block}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "no command in README.md or CONTRIBUTING.md matches ${pattern}")
endfunction()

if(STEP STREQUAL "root")
  machine_cache_dir(bare ${CACHE_DIR} PRUNE
    FILES ${CMAKE_CURRENT_LIST_FILE} ${CMAKE_CURRENT_LIST_DIR}/../emulated_machines.cmake)
  if(EXISTS ${bare}/ready)
    message("debian13.root: reusing the bare root in ${bare}")
  else()
    file(REMOVE_RECURSE ${bare})
    debian_root(${bare}/root trixie)
    # dpkg's syncs after each file are of no use in a root thrown away
    # after the run, and its installs are most of the test step's time.
    file(WRITE ${bare}/root/etc/dpkg/dpkg.cfg.d/unsafe-io "force-unsafe-io\n")
    file(WRITE ${bare}/ready "")
  endif()
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${archives}/partial)
  execute_process(COMMAND cp -a ${bare}/root ${root} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND git clone -q ${SOURCE_DIR} ${root}/root/anykey COMMAND_ERROR_IS_FATAL ANY)
  message("debian13.root: a fresh copy in ${root}")
elseif(STEP STREQUAL "setup")
  readme_command(command "apt-get install")
  in_root("${command}")
elseif(STEP STREQUAL "run")
  readme_command(command "--preset run &&")
  in_root("${command}" KEY)
  # A newcomer's first build is hardened, and says nothing that needs reading.
  if(shown MATCHES "CMake Warning|no hardening flags")
    message(FATAL_ERROR "the first build warned: ${CMAKE_MATCH_0}")
  endif()
elseif(STEP STREQUAL "test")
  readme_command(command "InstallTestDeps.cmake && cmake --workflow --preset default")
  in_root("${command}")
elseif(STEP STREQUAL "release")
  readme_command(command "```sh\ncmake --workflow --preset release\n")
  in_root("${command}")
  file(GLOB files ${root}/root/anykey/build/release/dist/*)
  list(LENGTH files count)
  message("debian13.release: ${count} files in build/release/dist")
else()
  message(FATAL_ERROR "STEP must be root, setup, run, test or release")
endif()
