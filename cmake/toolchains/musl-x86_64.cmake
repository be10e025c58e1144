# A static x86-64 Linux executable against musl, which runs whatever C
# library (if any) the machine has. The program uses nothing of the C++
# runtime, so musl-gcc (gcc with musl's own specs) compiles the C++ sources
# without libstdc++'s headers, set up for glibc, and links them without
# libstdc++. Linked stripped: the tests try the very file the release ships.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
find_program(ANYKEY_MUSL_GCC musl-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${ANYKEY_MUSL_GCC})
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")
