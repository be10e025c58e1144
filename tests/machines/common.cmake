# What the ARM machines' steps share: each architecture's Debian names and
# qemu, when the steps can run, and where a machine's files are kept.
# Included by fetch.cmake and run.cmake, with ARCH and CACHE_DIR set.
include(${CMAKE_CURRENT_LIST_DIR}/../loader/common.cmake)  # loader_mirrors

set(deb_arch_aarch64 arm64)
set(kernel_aarch64 linux-image-arm64)
set(qemu_aarch64 qemu-system-aarch64 -M virt -cpu max,pauth-impdef=on)
set(uname_aarch64 aarch64)
set(deb_arch_armhf armhf)
set(kernel_armhf linux-image-armmp-lpae)
set(qemu_armhf qemu-system-arm -M virt -cpu cortex-a15)
set(uname_armhf armv7l)
set(deb_arch ${deb_arch_${ARCH}})
set(qemu ${qemu_${ARCH}})

# Why this machine cannot fetch or boot, in OUT; empty if it can.
function(machines_host_lacks out)
  list(GET qemu 0 emulator)
  foreach(tool ${emulator} cpio apt-get dpkg-deb)
    find_program(found_${tool} ${tool})
    if(NOT found_${tool})
      set(${out} "${tool} not found; install with cmake -DANYKEY_ARM_MACHINES=ON -P cmake/InstallTestDeps.cmake"
        PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# The machine's folder in the cache, named by a hash of what goes into it.
function(machines_dir out)
  loader_mirrors(mirrors)
  file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/fetch.cmake script)
  file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/common.cmake names)
  string(SHA256 key "${script};${names};${mirrors}")
  string(SUBSTRING ${key} 0 16 key)
  set(${out} ${CACHE_DIR}/${ARCH}/${key} PARENT_SCOPE)
endfunction()

# The start of each step: "skipped:" with the reason, and the step ends,
# where this machine cannot run it; otherwise MACHINE is its folder.
macro(machines_step)
  machines_host_lacks(lack)
  if(lack)
    message("skipped: ${lack}")
    return()
  endif()
  machines_dir(machine)
endmacro()
