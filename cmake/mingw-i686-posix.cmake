# The i686 cross build with the posix thread model, whose C++ runtime has std::thread: the
# test programs need it. The library itself builds with either model.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
