# What the loader steps share: when they can run at all, where the machine is
# kept, and how it boots. Included by machine.cmake and run.cmake.

include(${CMAKE_CURRENT_LIST_DIR}/../emulated_machines.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../machine_guest.cmake)

# Why this machine cannot build or boot the guest, in OUT; empty if it can.
function(loader_host_lacks out)
  machine_host_lacks(lack ROOT "mmdebstrap builds the machine's root as root"
    INSTALL -DANYKEY_LOADER=ON TOOLS qemu-system-x86_64 mmdebstrap mke2fs)
  set(${out} "${lack}" PARENT_SCOPE)
endfunction()

# The machine's folder in the cache, named by a hash of what goes into it;
# with PRUNE, older machines go.
function(loader_machine_dir out)
  machine_cache_dir(dir ${CACHE_DIR} ${ARGN} FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/machine.cmake
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../emulated_machines.cmake)
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# Boots the machine, its init running SHARE/init.sh, and waits for it to
# power off; its console goes to SHARE.console as well.
function(loader_boot machine share timeout)
  cmake_parse_arguments(PARSE_ARGV 3 boot "SNAPSHOT" "" "")
  set(drive file=${machine}/root.img,format=raw,if=virtio)
  if(boot_SNAPSHOT)
    string(APPEND drive ",snapshot=on")  # the cached image stays as it is
  endif()
  # -smap: with it, Wine's first 32-bit process meets a kernel oops.
  machine_boot(${share}.console ${timeout} ${machine}/vmlinuz ${machine}/initrd.img
    "root=/dev/vda rw console=ttyS0 loglevel=3 init=/sbin/anykey-init"
    qemu-system-x86_64 -machine q35 -cpu max,-smap -smp 2 -m 2048 -drive ${drive}
    -virtfs local,path=${share},mount_tag=host,security_model=none)
endfunction()
