# The test suite cross-built for Windows (included by tests/CMakeLists.txt when WIN32):
# googletest from the sources Debian's googletest package ships, built with the cross compiler,
# and the test programs run through CMAKE_CROSSCOMPILING_EMULATOR (wine64; see
# cmake/mingw-x86_64-posix.cmake). The runner (.ci/windows.sh) sets WINEPREFIX and WINEDEBUG.
# mingw's own threads, not pthreads; the whole test program links statically, so it needs no
# runtime DLLs of the cross compiler beside it.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
include(${CMAKE_SOURCE_DIR}/cmake/googletest-source.cmake)
add_link_options(-static)
# Test programs live beside zdb_api.dll, where the Windows loader looks first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

function(zdb_add_ring_test name)
  if(name STREQUAL "integration_tests")
    # Its zdbd servers come from the Linux launcher the runner names in ZDB_TEST_LAUNCHER
    # (.ci/windows.sh); skipped when there is none.
    add_test(NAME ${name} COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/run_with_launcher.sh
      ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
    return()
  endif()
  # Run where the compiler ran: tests that find sources from __FILE__ see relative paths.
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
