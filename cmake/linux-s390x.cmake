# Builds for IBM Z Linux (s390x: 64-bit, big-endian, char unsigned) with
# clang and Debian's cross packages; the tests run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-qemu-clang.cmake)
