# Builds for 64-bit ARM Linux (aarch64, little-endian, char unsigned) with
# clang and Debian's cross packages; the tests run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-qemu-clang.cmake)
