# Shared by the macOS cross toolchains: Zig's clang, which carries macOS's C
# headers and the stubs of its system library, so that no SDK is needed.
# ANYKEY_ZIG is the zig executable; ANYKEY_ZIG_TARGET names the processor.
set(CMAKE_SYSTEM_NAME Darwin)
set(ANYKEY_ZIG "" CACHE FILEPATH "The zig executable (installed by cmake/FetchZig.cmake)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ANYKEY_ZIG)
# The oldest macOS goes in the target: zig ignores -mmacosx-version-min.
set(CMAKE_CXX_COMPILER ${ANYKEY_ZIG} c++ -target ${ANYKEY_ZIG_TARGET}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET})
# zig c++ links its own C++ runtime unless told not to; the program needs the
# C library alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT -nostdlib++)
# Unoptimised, zig checks for undefined behaviour; the check of calls through
# function pointers wants that runtime's type information.
set(CMAKE_CXX_FLAGS_INIT -fno-sanitize=function)
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
