# Boots an ARM machine from an initramfs with busybox, the terminal suite
# built for it, and the two executables: the static one, and the packaged one
# with the C library from LIBC_DIR. The suite runs as the machine's init, once
# for each executable, and its output comes back on the serial console.
# Fails unless it ended with status 0 each time, having run every case that
# init.sh's filter picks from the suite (as NATIVE_SUITE, the same suite
# built for this machine, lists them), on the expected processor.
#   cmake -DARCH= -DCACHE_DIR= -DWORK_DIR= -DSTATIC_EXE= -DPACKAGED_EXE= -DLIBC_DIR=
#         -DMACHINE= -DGUEST_SUITE= -DNATIVE_SUITE= -P run.cmake
# MACHINE: the processor readelf must name for the executables.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

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
file(CHMOD ${stage}/bin/busybox ${stage}/init ${stage}/anykey.static ${stage}/anykey.packaged
  ${stage}/guest_suite
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
file(READ ${CMAKE_CURRENT_LIST_DIR}/init.sh init)
string(REGEX MATCH "--gtest_filter='([^']*)'" _ "${init}")
execute_process(COMMAND ${NATIVE_SUITE} --gtest_list_tests "--gtest_filter=${CMAKE_MATCH_1}"
  OUTPUT_VARIABLE listed COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n  [^\n]+" cases "${listed}")
list(LENGTH cases expected)
string(REGEX MATCHALL "\\[==========\\] ${expected} tests? from [^\n]* ran" runs "${console}")
list(LENGTH runs runs)
if(expected EQUAL 0 OR NOT runs EQUAL 2)
  string(APPEND faults "\nnot ${expected} cases ran for each executable")
endif()
foreach(build static packaged)
  if(NOT console MATCHES "guest suite, ${build} executable: status 0\r?\n")
    string(APPEND faults "\nthe suite did not end with status 0 for the ${build} executable")
  endif()
endforeach()
if(faults)
  message(FATAL_ERROR "machines.${ARCH}.run:${faults}")
endif()
