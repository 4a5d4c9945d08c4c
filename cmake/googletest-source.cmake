# GoogleTest built from the sources Debian's googletest package ships, with the compiler of a
# cross or multilib build, for which the installed libraries do not fit. Gives the same
# GTest::gtest, GTest::gtest_main and GTest::gmock targets as find_package(GTest).
set(ZDB_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources to build")
if(NOT EXISTS ${ZDB_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No googletest sources in ${ZDB_GOOGLETEST_SOURCE} (Debian: googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZDB_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
