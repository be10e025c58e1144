# macOS on Intel processors, cross-built with Zig.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ANYKEY_ZIG_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos-common.cmake)
