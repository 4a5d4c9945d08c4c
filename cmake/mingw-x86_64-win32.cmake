# The x86_64 cross build with mingw-w64's win32 thread model (native Windows threads, no
# libwinpthread), named explicitly rather than through Debian's alternatives, which may point
# either way. Its C++ runtime has no std::thread, so it builds the library alone
# (-DZDB_BUILD_TESTS=OFF -DZDB_BUILD_TOOLS=OFF); the tests and zdb.exe use mingw-x86_64-posix.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
