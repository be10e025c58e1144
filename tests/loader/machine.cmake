# Builds the emulated machine once and keeps it in the cache, by steps:
#   cmake -DSTEP=root|prefix -DCACHE_DIR= -DWORK_DIR= -P machine.cmake
# root: a Debian 13 root with Wine's 32-bit and 64-bit loaders and a stock
# kernel, made by mmdebstrap and written into an ext4 image; prefix: one boot
# that makes the Wine prefix inside it. Debian 13's Wine (10.0), because
# Debian 12's (8.0) never sees a key typed on a terminal. The cache folder's
# name is a hash of this file and the mirrors, so any change here makes a
# new machine.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(suite trixie)
set(packages linux-image-amd64 mount kmod wine wine64 wine32:i386)
# PID 1 of every boot: the host's share says what to run; then power off.
set(stub_init [=[#!/bin/sh
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /mnt/host
mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
if modprobe 9pnet_virtio && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 host /mnt/host
then sh /mnt/host/init.sh; echo "init.sh ended with status $?"
else echo "init: no share from the host"
fi
sync
echo o > /proc/sysrq-trigger
while :; do :; done  # PID 1 must not end, and the disk is going away
]=])
# The prefix is made once, as root, where the checks will use it.
set(prefix_init [=[
export HOME=/root WINEPREFIX=/root/.wine XDG_RUNTIME_DIR=/tmp
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf /root/.wine
(while sleep 20; do echo "loader.prefix: still making the Wine prefix"; done) &
wine wineboot --init && wineserver -w && wine --version > /mnt/host/prefix-made
kill $!
du -sh /root/.wine
]=])

loader_host_lacks(lack)
if(lack)
  message("skipped: ${lack}")
  return()
endif()
loader_machine_dir(machine PRUNE)
if(EXISTS ${machine}/ready)
  message("loader.${STEP}: reusing the machine in ${machine}")
  return()
endif()
file(MAKE_DIRECTORY ${machine})

if(STEP STREQUAL "root")
  set(root ${machine}/root)
  string(REPLACE ";" "," include "${packages}")
  debian_root(${root} ${suite} --architectures=amd64,i386 --include=${include}
    --dpkgopt=path-exclude=/usr/share/doc/* --dpkgopt=path-exclude=/usr/share/man/*
    --dpkgopt=path-exclude=/usr/share/locale/*)
  file(WRITE ${root}/sbin/anykey-init "${stub_init}")
  file(CHMOD ${root}/sbin/anykey-init PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # Kernel and initramfs boot from the host's side.
  file(GLOB kernel ${root}/boot/vmlinuz-*)
  file(GLOB initrd ${root}/boot/initrd.img-*)
  list(LENGTH kernel kernels)
  if(NOT kernels EQUAL 1 OR NOT initrd)
    message(FATAL_ERROR "expected one kernel and its initramfs in ${root}/boot: ${kernel} ${initrd}")
  endif()
  file(COPY_FILE ${kernel} ${machine}/vmlinuz)
  file(COPY_FILE ${initrd} ${machine}/initrd.img)
  # Room for the Wine prefix (1.4 GiB) on top of the root.
  execute_process(COMMAND du -sm ${root} OUTPUT_VARIABLE size COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "^[0-9]+" size "${size}")
  math(EXPR size "${size} + 2560")
  message("loader.root: writing a ${size} MiB ext4 image")
  file(REMOVE ${machine}/root.img.new)
  execute_process(COMMAND mke2fs -q -t ext4 -d ${root} ${machine}/root.img.new ${size}M
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
elseif(STEP STREQUAL "prefix")
  if(NOT EXISTS ${machine}/root.img.new)
    message(FATAL_ERROR "no root image in ${machine}: loader.root did not make one")
  endif()
  set(share ${WORK_DIR}/prefix-share)
  file(REMOVE_RECURSE ${share})
  file(WRITE ${share}/init.sh "${prefix_init}")
  file(RENAME ${machine}/root.img.new ${machine}/root.img)
  message("loader.prefix: booting once to make the Wine prefix (a few minutes)")
  loader_boot(${machine} ${share} 900)
  if(NOT EXISTS ${share}/prefix-made)
    file(RENAME ${machine}/root.img ${machine}/root.img.new)
    message(FATAL_ERROR "the machine did not make the Wine prefix")
  endif()
  file(READ ${share}/prefix-made version)
  file(WRITE ${machine}/ready "${version}")
  message("loader.prefix: made with ${version}")
else()
  message(FATAL_ERROR "STEP must be root or prefix")
endif()
