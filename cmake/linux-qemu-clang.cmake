# Builds for the 64-bit Linux of another processor (CMAKE_SYSTEM_PROCESSOR,
# set by the toolchain file that includes this one) with clang, which
# compiles for any processor it is told (--target), against Debian's cross
# packages of glibc, libstdc++ and binutils (libc6-dev-ARCH-cross,
# libstdc++-12-dev-ARCH-cross, binutils-TRIPLE), which keep their files in
# /usr/TRIPLE.  Debian's gcc cross compilers would do as well, but installing
# one removes g++-multilib, which linux32 needs; these packages do not.
# The tests run the programs under qemu-user, which hands their system calls
# to the host kernel and loads their libraries from /usr/TRIPLE (-L).
set(CMAKE_SYSTEM_NAME Linux)
set(triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
# That processor's binutils (the host's know only the host's processors; the
# LLVM tools, which know them all, need not be here).
foreach(tool ar ranlib objcopy objdump strip)
  string(TOUPPER ${tool} variable)
  set(CMAKE_${variable} /usr/bin/${triple}-${tool})
endforeach()

set(qemu qemu-${CMAKE_SYSTEM_PROCESSOR})
find_program(QEMU_${CMAKE_SYSTEM_PROCESSOR} ${qemu})
if(NOT QEMU_${CMAKE_SYSTEM_PROCESSOR} OR NOT EXISTS /usr/${triple}/include/stdio.h)
  message(FATAL_ERROR "No ${qemu} or no C library for ${triple} in /usr/${triple}: "
                      "tools/install-deps all installs them.")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_${CMAKE_SYSTEM_PROCESSOR}} -L /usr/${triple})

# Libraries and headers of that processor only; programs (groff, man) of this
# machine.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
