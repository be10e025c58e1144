# What the ARM machines' steps share: each architecture's Debian names and
# qemu, when the steps can run, and where a machine's files are kept.
# Included by fetch.cmake and run.cmake, with ARCH and CACHE_DIR set.
include(${CMAKE_CURRENT_LIST_DIR}/../emulated_machines.cmake)

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

# The start of each step: "skipped:" with the reason, and the step ends,
# where this machine cannot run it; otherwise MACHINE is its folder, named
# by a hash of what goes into it (with PRUNE, older ones go).
macro(machines_step)
  list(GET qemu 0 emulator)
  machine_host_lacks(lack INSTALL -DANYKEY_ARM_MACHINES=ON TOOLS ${emulator} cpio apt-get dpkg-deb)
  if(lack)
    message("skipped: ${lack}")
    return()
  endif()
  machine_cache_dir(machine ${CACHE_DIR}/${ARCH} ${ARGN}
    FILES ${CMAKE_CURRENT_LIST_DIR}/fetch.cmake ${CMAKE_CURRENT_LIST_DIR}/common.cmake)
endmacro()
