# 32-bit ARM Linux with hardware floating point (Debian's armhf, a 32-bit
# Raspberry Pi OS): g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ANYKEY_TOOLCHAIN_PREFIX arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
# musl for the static executable: Debian's musl-dev:armhf.
set(ANYKEY_MUSL_TRIPLET arm-linux-musleabihf)
