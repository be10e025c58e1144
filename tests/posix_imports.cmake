# What a POSIX executable asks of the system:
#   cmake -DBINARY= -DNM= -DREADELF= -DMACHINE= [-DSTATIC_MAX_SIZE=] -P posix_imports.cmake
#   cmake -DBINARY= -DNM=llvm-nm -DOBJDUMP=llvm-objdump -DMACHINE= -DMACOS_MIN= -P ... (Mach-O)
# It must be for MACHINE (as readelf or llvm-objdump names the processor);
# every undefined dynamic symbol must be a POSIX.1-2008 function from the
# list below or a piece of the C runtime's own start-up and exit plumbing
# (the hardening's checks among it), so that a Linux-only call, a glibc
# extension or a C++ runtime symbol fails, named; and it needs the C library
# alone. A Mach-O file must also be a position-independent executable for
# MACOS_MIN and later, need the system library alone and, on ARM64, carry a
# code signature (ad hoc at least): a Mac runs no arm64 code without one.
# With STATIC_MAX_SIZE, the static executable asks nothing of the system at
# all (no dynamic section, no interpreter) and stays within that many bytes.
# Every fault found is reported, one a line.
cmake_minimum_required(VERSION 3.25)

# Each one checked against POSIX.1-2008; a new call is added here only after
# the same check.
set(posix
  _exit cfgetispeed cfgetospeed clock_gettime close fcntl fstat getpgrp getpid getsid isatty
  memcpy memset nanosleep open poll ptsname raise read select sigaction sigaddset sigdelset
  sigemptyset sigfillset sigismember sigpending sigprocmask sigwait tcflush tcgetattr tcgetpgrp
  tcgetsid tcsetattr write)
# glibc's plumbing, which the program never calls itself.
set(runtime
  __libc_start_main            # the start-up code that calls main
  __errno_location             # where errno lives
  __cxa_finalize               # (weak) runs a shared object's destructors at exit
  _ITM_registerTMCloneTable    # (weak) transactional-memory hooks of crtbegin.o,
  _ITM_deregisterTMCloneTable  #   left undefined unless a library provides them
  __gmon_start__               # (weak) the profiler's hook, likewise
  __stack_chk_fail             # the stack protector's end, when a frame was overrun
  __stack_chk_guard            # its canary, a variable of the dynamic loader on ARM
  abort                        # ARM's start-up code, should __libc_start_main return
  __fdelt_chk                  # the bounds check of FD_SET and FD_ISSET (select's)
  __error                      # macOS: where errno lives
  __darwin_check_fd_set_overflow  # macOS: FD_SET's and FD_ISSET's bounds check
  dyld_stub_binder)            # macOS: the dynamic loader's binder of lazy calls

set(faults "")
set(symbols "")
file(READ ${BINARY} magic LIMIT 4 HEX)
if(magic STREQUAL "cffaedfe")  # 64-bit Mach-O, little-endian
  execute_process(COMMAND ${OBJDUMP} --macho --private-headers ${BINARY}
    OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
  if(NOT headers MATCHES "MH_MAGIC_64 +([A-Z0-9_]+) +[A-Z0-9_]+ +0x[0-9a-f]+ +EXECUTE [^\n]* PIE\n")
    string(APPEND faults "not a position-independent executable\n")
  elseif(NOT CMAKE_MATCH_1 STREQUAL MACHINE)
    string(APPEND faults "wrong machine: ${CMAKE_MATCH_1}, not ${MACHINE}\n")
  endif()
  set(oldest none)
  if(headers MATCHES "LC_BUILD_VERSION\n +cmdsize [0-9]+\n +platform (macos|1)\n +sdk [^\n]+\n +minos ([0-9.]+)")
    set(oldest ${CMAKE_MATCH_2})
  endif()
  if(NOT oldest STREQUAL MACOS_MIN)
    string(APPEND faults "oldest macOS '${oldest}', not ${MACOS_MIN}\n")
  endif()
  # The libraries, less the dynamic loader itself.
  string(REGEX MATCHALL "\n +name (/[^ ]+) \\(offset" needed "${headers}")
  list(TRANSFORM needed REPLACE "^\n +name ([^ ]+).*" "\\1")
  list(REMOVE_ITEM needed /usr/lib/dyld)
  if(NOT needed STREQUAL "/usr/lib/libSystem.B.dylib")
    string(APPEND faults "needs more than the system library: ${needed}\n")
  endif()
  # The signature: an embedded superblob whose first blob is a code directory.
  if(MACHINE STREQUAL "ARM64")
    set(signed OFF)
    if(headers MATCHES "cmd LC_CODE_SIGNATURE\n +cmdsize [0-9]+\n +dataoff ([0-9]+)")
      set(at ${CMAKE_MATCH_1})
      # Big-endian: magic, length, count, then the first blob's type and offset.
      file(READ ${BINARY} blob OFFSET ${at} LIMIT 20 HEX)
      string(SUBSTRING "${blob}" 0 8 superblob)
      string(SUBSTRING "${blob}" 24 8 type)
      string(SUBSTRING "${blob}" 32 8 offset)
      if(superblob STREQUAL "fade0cc0" AND type STREQUAL "00000000")
        math(EXPR at "${at} + 0x${offset}")
        file(READ ${BINARY} directory OFFSET ${at} LIMIT 4 HEX)
        if(directory STREQUAL "fade0c02")
          set(signed ON)
        endif()
      endif()
    endif()
    if(NOT signed)
      string(APPEND faults "no code signature\n")
    endif()
  endif()
  # C's names, less the leading underscore and the suffix that picks a
  # variant of a function (fstat$INODE64, select$1050).
  execute_process(COMMAND ${NM} -u --format=posix ${BINARY}
    OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "_?([^ $\n]+)(\\$[^ \n]*)? [wU][^\n]*\n" "\\1;" symbols "${listing}")
else()
  execute_process(COMMAND ${READELF} -h -d -l ${BINARY} OUTPUT_VARIABLE headers
    COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "Machine: +([^\n]+)" _ "${headers}")
  if(NOT CMAKE_MATCH_1 STREQUAL MACHINE)
    string(APPEND faults "wrong machine: ${BINARY} is for ${CMAKE_MATCH_1}, not ${MACHINE}\n")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${headers}")
  if(DEFINED STATIC_MAX_SIZE)
    file(SIZE ${BINARY} size)
    message(STATUS "${size} bytes")
    if(NOT headers MATCHES "There is no dynamic section in this file"
       OR NOT headers MATCHES "Type: +EXEC " OR headers MATCHES "INTERP")
      string(APPEND faults "not static: ${BINARY} has a dynamic section or an interpreter\n${headers}\n")
    endif()
    if(size GREATER STATIC_MAX_SIZE)
      string(APPEND faults "${size} bytes, more than ${STATIC_MAX_SIZE}\n")
    endif()
  else()
    execute_process(COMMAND ${NM} -D --undefined-only ${BINARY}
      OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "[ \t]*[wUv] ([^ @\n]+)(@[^\n]*)?\n" "\\1;" symbols "${listing}")
    # On ARM the stack protector's canary lives in the C library's dynamic loader.
    list(FILTER needed EXCLUDE REGEX "^Shared library: \\[ld-linux-(aarch64\\.so\\.1|armhf\\.so\\.3)\\]$")
    if(NOT needed STREQUAL "Shared library: [libc.so.6]")
      string(APPEND faults "needs more than the C library: ${needed}\n")
    endif()
  endif()
endif()

set(bad "")
foreach(symbol IN LISTS symbols)
  # The fortified form of a POSIX function (__read_chk) is that function.
  string(REGEX REPLACE "^__(.+)_chk$" "\\1" plain "${symbol}")
  # glibc's checked two-argument open (__open_2, __open64_2) is open.
  string(REGEX REPLACE "^__(open(64)?)_2$" "\\1" plain "${plain}")
  # So is its 64-bit time or file-offset form on a 32-bit machine
  # (__clock_gettime64, __fcntl_time64, __fstat64_time64, open64).
  if(plain MATCHES "64$")
    string(REGEX REPLACE "_time64$" "" plain "${plain}")
    string(REGEX REPLACE "^_*([a-z_]*[a-z])(64)?$" "\\1" plain "${plain}")
  endif()
  if(NOT plain IN_LIST posix AND NOT symbol IN_LIST runtime)
    list(APPEND bad ${symbol})
  endif()
endforeach()
list(LENGTH symbols count)
message(STATUS "${count} imports; needs ${needed}")
if(bad)
  string(APPEND faults "not POSIX: ${bad}\n")
endif()
if(faults)
  message(FATAL_ERROR "${faults}")
endif()
