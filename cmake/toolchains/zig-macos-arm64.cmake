# macOS on Apple's own processors, cross-built with Zig.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(ANYKEY_ZIG_TARGET aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos-common.cmake)
