# Builds for 32-bit x86 Linux (i386, as distributions build every package
# for) with the host's gcc and g++ and Debian's multilib (g++-multilib).
# Where the kernel runs no 32-bit program (some are built or booted without
# that), the tests run the programs under qemu-i386's user-mode emulation,
# which hands their system calls to the host kernel as they are made.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)

# The 32-bit dynamic loader runs as a program of its own where the kernel
# runs 32-bit programs at all.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE runs_32
                OUTPUT_QUIET ERROR_QUIET)
if(NOT runs_32 EQUAL 0)
  find_program(QEMU_I386 qemu-i386)
  if(NOT QEMU_I386)
    message(FATAL_ERROR "This system runs no 32-bit program and has no qemu-i386 "
                        "to run the tests with: tools/install-deps all installs it.")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386})
endif()
