# 32-bit Linux build on an x86-64 host (Debian's g++-multilib): the word size
# and the floating-point unit of the 32-bit Windows DLL, so the whole suite
# runs with a 32-bit size_t and SSE2 arithmetic.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Only 64-bit builds of optional packages (DCMTK) are installed; a 32-bit
# program cannot link them, so look for none and leave those parts out.
set(CMAKE_DISABLE_FIND_PACKAGE_DCMTK ON)
# With TAVIREX_QEMU_I386=ON (make test32 sets it where the kernel cannot run
# 32-bit programs, or with TEST32_QEMU=1), ctest runs every test program under
# qemu-i386 (Debian's qemu-user), which finds the 32-bit loader and libraries
# of g++-multilib on the host; the suite starts the CLI under it too.
if(TAVIREX_QEMU_I386)
  find_program(TAVIREX_QEMU_I386_PROGRAM qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVIREX_QEMU_I386_PROGRAM})
endif()
