# The x86_64 cross build with the posix thread model, whose C++ runtime has std::thread: the
# test programs need it. The library itself builds with either model.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
# Test programs run under wine64 (Debian keeps its loader off PATH).
find_program(ZDB_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ZDB_WINE64 NAMES wine64 wine)
if(ZDB_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZDB_WINE64})
endif()
