# Boots an ARM machine from an initramfs with busybox, the terminal suite
# built for it, and the two executables: the static one, and the packaged one
# with the C library from LIBC_DIR. The machine's init (init.sh) runs the
# suite once for each executable and writes its verdicts on the serial
# console: that the suite ran on the expected processor, ended with status 0
# and ran every case that init.sh's filter picks (as NATIVE_SUITE, the same
# suite built for this machine, lists them).
#   cmake -DARCH= -DCACHE_DIR= -DWORK_DIR= -DSTATIC_EXE= -DPACKAGED_EXE= -DLIBC_DIR=
#         -DMACHINE= -DGUEST_SUITE= -DNATIVE_SUITE= -P run.cmake
# MACHINE: the processor readelf must name for the executables.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../machine_guest.cmake)

machines_step()
if(NOT EXISTS ${machine}/ready)
  message(FATAL_ERROR "no kernel in ${machine}: machines.${ARCH}.fetch did not fetch one")
endif()

# Debian's arm64 kernel runs armhf programs too, so the suite alone would
# not see the two ARM executables swapped.
foreach(exe ${STATIC_EXE} ${PACKAGED_EXE})
  execute_process(COMMAND readelf -h ${exe} OUTPUT_VARIABLE header COMMAND_ERROR_IS_FATAL ANY)
  if(NOT header MATCHES "Machine: +${MACHINE}\n")
    message(FATAL_ERROR "wrong machine: ${exe} is not for ${MACHINE}")
  endif()
endforeach()

set(stage ${WORK_DIR}/initramfs)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/bin ${stage}/lib)
file(COPY_FILE ${machine}/busybox ${stage}/bin/busybox)
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/init.sh ${stage}/init)
file(COPY_FILE ${STATIC_EXE} ${stage}/anykey.static)
file(COPY_FILE ${PACKAGED_EXE} ${stage}/anykey.packaged)
file(GLOB libc ${LIBC_DIR}/ld-linux-*.so.* ${LIBC_DIR}/libc.so.6)
file(COPY ${libc} DESTINATION ${stage}/lib)
file(COPY_FILE ${GUEST_SUITE} ${stage}/guest_suite)
file(CHMOD_RECURSE ${stage} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
execute_process(COMMAND find . COMMAND cpio -o -H newc -R 0:0 --quiet
  WORKING_DIRECTORY ${stage} OUTPUT_FILE ${WORK_DIR}/initramfs.cpio COMMAND_ERROR_IS_FATAL ANY)

file(READ ${CMAKE_CURRENT_LIST_DIR}/init.sh init)
string(REGEX MATCH "--gtest_filter='([^']*)'" _ "${init}")
execute_process(COMMAND ${NATIVE_SUITE} --gtest_list_tests "--gtest_filter=${CMAKE_MATCH_1}"
  OUTPUT_VARIABLE listed COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n  [^\n]+" cases "${listed}")
list(LENGTH cases cases)
if(cases EQUAL 0)
  message(FATAL_ERROR "init.sh's filter picks no case of the suite")
endif()
file(READ ${machine}/ready kernel)
string(REPLACE ";" " " command "${qemu}")
message("machines.${ARCH}.run: booting ${kernel} in ${command}")
machine_boot(${WORK_DIR}/console.txt 800 ${machine}/vmlinuz ${WORK_DIR}/initramfs.cpio
  "console=ttyAMA0 PROCESSOR=${uname_${ARCH}} CASES=${cases}" ${qemu} -m 512)
machine_verdicts(${WORK_DIR}/console.txt)
