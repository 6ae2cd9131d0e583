# The 32-bit Windows cross build of mingw-i686.cmake with the posix thread model,
# which GoogleTest needs (std::mutex): make win32-test builds the library, the
# simulated module, the CLI and the suite with it, and ctest runs the test programs
# under 32-bit Wine. The library uses no threads; the production DLL keeps the
# compilers' default thread model.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh --32)
