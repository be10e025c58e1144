# Fetches an ARM machine's kernel and busybox from Debian's mirrors, once, into
# the cache: the packages of Debian's own architecture, through a private apt
# state of that architecture alone, so that neither root nor a change to this
# machine's own apt set-up is needed.
#   cmake -DARCH=aarch64|armhf -DCACHE_DIR= -DWORK_DIR= -P fetch.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

machines_step(PRUNE)
if(EXISTS ${machine}/ready)
  file(READ ${machine}/ready what)
  message("machines.${ARCH}.fetch: reusing ${what} in ${machine}")
  return()
endif()
file(REMOVE_RECURSE ${machine})  # what a fetch that did not finish left

set(apt ${machine}/apt)
file(MAKE_DIRECTORY ${apt}/state/lists/partial ${apt}/cache/archives/partial ${apt}/parts
  ${machine}/debs)
file(TOUCH ${apt}/status)
debian_mirrors(mirrors)
file(STRINGS /etc/os-release codename REGEX "^VERSION_CODENAME=")
string(REPLACE "VERSION_CODENAME=" "" codename "${codename}")
set(keyring /usr/share/keyrings/debian-archive-keyring.gpg)
set(options "arch=${deb_arch}")
if(EXISTS ${keyring})
  string(APPEND options " signed-by=${keyring}")
endif()
set(sources "")
foreach(uri IN LISTS mirrors)
  string(APPEND sources "deb [${options}] ${uri} ${codename} main\n")
endforeach()
file(WRITE ${apt}/sources.list "${sources}")
set(apt_options -q -o Dir::State=${apt}/state -o Dir::State::status=${apt}/status
  -o Dir::Cache=${apt}/cache -o Dir::Etc::SourceList=${apt}/sources.list
  -o Dir::Etc::SourceParts=${apt}/parts -o APT::Architecture=${deb_arch}
  -o APT::Architectures=${deb_arch} -o Debug::NoLocking=1)
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  list(APPEND apt_options -o APT::Sandbox::User=root)
endif()

# A foreign architecture's index fails now and then while a mirror syncs.
foreach(try 1 2 3)
  execute_process(COMMAND apt-get ${apt_options} update RESULT_VARIABLE status)
  if(status EQUAL 0)
    break()
  endif()
endforeach()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "apt-get update for ${deb_arch} failed three times")
endif()
# The kernel package that Debian's meta-package names today.
set(meta ${kernel_${ARCH}})
execute_process(COMMAND apt-cache ${apt_options} depends ${meta}
  OUTPUT_VARIABLE depends COMMAND_ERROR_IS_FATAL ANY)
if(NOT depends MATCHES "Depends: (linux-image-[0-9][^ \n]*)")
  message(FATAL_ERROR "${meta} names no kernel:\n${depends}")
endif()
set(kernel ${CMAKE_MATCH_1})
message("machines.${ARCH}.fetch: ${kernel} and busybox-static for ${deb_arch}")
execute_process(COMMAND apt-get ${apt_options} download ${kernel} busybox-static
  WORKING_DIRECTORY ${machine}/debs COMMAND_ERROR_IS_FATAL ANY)

# Of the packages, the kernel image and busybox alone.
file(GLOB debs ${machine}/debs/*.deb)
file(MAKE_DIRECTORY ${machine}/tree)
foreach(deb IN LISTS debs)
  set(wanted ./bin/busybox)
  if(deb MATCHES "/linux-image-[^/]*$")
    set(wanted ./boot/vmlinuz-*)
  endif()
  execute_process(COMMAND dpkg-deb --fsys-tarfile ${deb}
    COMMAND tar -x --wildcards ${wanted}
    WORKING_DIRECTORY ${machine}/tree COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(GLOB vmlinuz ${machine}/tree/boot/vmlinuz-*)
if(NOT vmlinuz OR NOT EXISTS ${machine}/tree/bin/busybox)
  message(FATAL_ERROR "no kernel image or busybox in ${debs}")
endif()
file(RENAME ${vmlinuz} ${machine}/vmlinuz)
file(RENAME ${machine}/tree/bin/busybox ${machine}/busybox)
file(REMOVE_RECURSE ${apt} ${machine}/debs ${machine}/tree)
file(WRITE ${machine}/ready ${kernel})
