# 32-bit Windows console image, cross-built with mingw-w64.
set(ANYKEY_TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
