# What the POSIX binary asks of its C library: every undefined dynamic symbol
# must be a POSIX.1-2008 function from the list below or a piece of the C
# runtime's own start-up and exit plumbing (the hardening's checks among it),
# and the only library it needs is the C library. Anything else (a Linux-only
# call, a glibc extension, any C++ runtime symbol) fails, naming the symbol.
# cmake -DBINARY= -DNM= -DREADELF= [-DMACHINE=] -P posix_imports.cmake
# With -DSTATIC_MAX_SIZE=, the static executable's counterpart instead: it
# asks nothing of the system at all (no dynamic section, no interpreter) and
# stays within that many bytes. MACHINE: the processor readelf must name.
cmake_minimum_required(VERSION 3.25)

if(DEFINED MACHINE)
  execute_process(COMMAND ${READELF} -h ${BINARY} OUTPUT_VARIABLE header COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "Machine: +([^\n]+)" _ "${header}")
  if(NOT CMAKE_MATCH_1 STREQUAL MACHINE)
    message(FATAL_ERROR "wrong machine: ${BINARY} is for ${CMAKE_MATCH_1}, not ${MACHINE}")
  endif()
endif()
if(DEFINED STATIC_MAX_SIZE)
  execute_process(COMMAND ${READELF} -d -l ${BINARY} OUTPUT_VARIABLE headers
    COMMAND_ERROR_IS_FATAL ANY)
  file(SIZE ${BINARY} size)
  if(NOT headers MATCHES "There is no dynamic section in this file"
     OR NOT headers MATCHES "Elf file type is EXEC" OR headers MATCHES "INTERP")
    message(FATAL_ERROR "not static: ${BINARY} has a dynamic section or an interpreter\n${headers}")
  endif()
  message(STATUS "static: no dynamic section, no interpreter; ${size} bytes")
  if(size GREATER STATIC_MAX_SIZE)
    message(FATAL_ERROR "${size} bytes, more than ${STATIC_MAX_SIZE}")
  endif()
  return()
endif()

# Each one checked against POSIX.1-2008; a new call is added here only after
# the same check.
set(posix
  _exit cfgetispeed cfgetospeed clock_gettime close fcntl fstat getpgrp getpid getsid
  isatty memcpy memset nanosleep open poll ptsname raise read select sigaction
  sigaddset sigdelset sigemptyset sigfillset sigismember sigpending sigprocmask sigwait tcflush
  tcgetattr
  tcgetpgrp tcgetsid tcsetattr write)
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
  __fdelt_chk)                 # the bounds check of FD_SET and FD_ISSET (select's)

execute_process(COMMAND ${NM} -D --undefined-only ${BINARY}
  OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "[ \t]*[wUv] ([^ @\n]+)(@[^\n]*)?\n" "\\1;" symbols "${listing}")
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

execute_process(COMMAND ${READELF} -d ${BINARY} OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${dynamic}")
list(LENGTH symbols count)
message(STATUS "${count} imports; needs ${needed}")
if(bad)
  message(FATAL_ERROR "not POSIX: ${bad}")
endif()
# On ARM the stack protector's canary lives in the C library's dynamic loader.
list(FILTER needed EXCLUDE REGEX "^Shared library: \\[ld-linux-(aarch64\\.so\\.1|armhf\\.so\\.3)\\]$")
if(NOT needed STREQUAL "Shared library: [libc.so.6]")
  message(FATAL_ERROR "needs more than the C library: ${needed}")
endif()
