# Boots an ARM machine from an initramfs with busybox, the static executable
# and the terminal suite built for it; the suite runs as the machine's init
# and its output comes back on the serial console. Fails unless the suite
# ended with status 0 having passed PASSED cases, on the expected processor.
#   cmake -DARCH= -DCACHE_DIR= -DWORK_DIR= -DANYKEY_EXE= -DMACHINE= -DGUEST_SUITE=
#         -DPASSED= -P run.cmake
# MACHINE: the processor readelf must name for ANYKEY_EXE.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

machines_step()
if(NOT EXISTS ${machine}/ready)
  message(FATAL_ERROR "no kernel in ${machine}: machines.${ARCH}.fetch did not fetch one")
endif()

# Debian's arm64 kernel runs armhf programs too, so the suite alone would
# not see the two ARM executables swapped.
execute_process(COMMAND readelf -h ${ANYKEY_EXE} OUTPUT_VARIABLE header COMMAND_ERROR_IS_FATAL ANY)
if(NOT header MATCHES "Machine: +${MACHINE}\n")
  message(FATAL_ERROR "wrong machine: ${ANYKEY_EXE} is not for ${MACHINE}")
endif()

set(stage ${WORK_DIR}/initramfs)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/bin)
file(COPY_FILE ${machine}/busybox ${stage}/bin/busybox)
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/init.sh ${stage}/init)
file(COPY_FILE ${ANYKEY_EXE} ${stage}/anykey)
file(COPY_FILE ${GUEST_SUITE} ${stage}/guest_suite)
file(CHMOD ${stage}/bin/busybox ${stage}/init ${stage}/anykey ${stage}/guest_suite
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
execute_process(COMMAND find . COMMAND cpio -o -H newc -R 0:0 --quiet
  WORKING_DIRECTORY ${stage} OUTPUT_FILE ${WORK_DIR}/initramfs.cpio COMMAND_ERROR_IS_FATAL ANY)

file(READ ${machine}/ready kernel)
string(REPLACE ";" " " command "${qemu}")
message("machines.${ARCH}.run: booting ${kernel} in ${command}")
# panic=-1: a panic restarts the machine, which -no-reboot turns into the
# end of qemu, rather than a wait for the time limit.
execute_process(
  COMMAND ${qemu} -m 512 -nographic -no-reboot -nic none -monitor none -serial stdio
    -kernel ${machine}/vmlinuz -initrd ${WORK_DIR}/initramfs.cpio
    -append "console=ttyAMA0 quiet panic=-1"
  COMMAND tee ${WORK_DIR}/console.txt
  INPUT_FILE /dev/null RESULT_VARIABLE status TIMEOUT 800)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "qemu: ${status}")
endif()
file(READ ${WORK_DIR}/console.txt console)
set(faults "")
if(NOT console MATCHES "machine: ${uname_${ARCH}},")
  string(APPEND faults "\nthe suite did not run on an ${uname_${ARCH}} processor")
endif()
if(NOT console MATCHES "\\[  PASSED  \\] ${PASSED} tests?\\.")
  string(APPEND faults "\nnot ${PASSED} cases passed")
endif()
if(NOT console MATCHES "guest suite: status 0\r?\n")
  string(APPEND faults "\nthe suite did not end with status 0")
endif()
if(faults)
  message(FATAL_ERROR "machines.${ARCH}.run:${faults}")
endif()
