# 64-bit ARM Linux (Debian's arm64): g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ANYKEY_TOOLCHAIN_PREFIX aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
# musl for the static executable: Debian's musl-dev:arm64.
set(ANYKEY_MUSL_TRIPLET aarch64-linux-musl)
