# The 32-bit x86 Linux build (Debian: gcc-multilib, g++-multilib): the library and its test
# rings with 4-byte pointers and sizes and the callee-cleans convention of the exports, the
# code paths of the 32-bit DLL that a 64-bit build never takes. GoogleTest comes from Debian's
# sources (cmake/googletest-source.cmake), the 64-bit one installed cannot link here. zdbd
# and the tools stay in the native build: the integration ring runs the zdbd that
# ZDB_TEST_ZDBD names (.ci/i686.sh). Where the kernel refuses i386 code the runner sets
# CMAKE_CROSSCOMPILING_EMULATOR to qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ZDB_GOOGLETEST_FROM_SOURCE ON)
# zdbd would need a 32-bit SQLite, and the tools serve no 32-bit check.
set(ZDB_BUILD_TOOLS OFF)
