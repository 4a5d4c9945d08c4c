# The hardening rings: replies cut and mangled by the scripted peer (part of every suite run,
# so the sanitizer builds cover them too), and the many-thread stress against a real zdbd.
# They count descriptors in /proc and make resets with POSIX sockets: Linux only.
if(NOT WIN32)
  zdb_test_ring(fault_tests faults)
  if(ZDB_TSAN AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 at -O1 takes the vector inserts of the stream helpers for overflows (a known false
    # positive of -Wstringop-overflow); the ordinary builds keep the warning.
    target_compile_options(fault_tests PRIVATE -Wno-stringop-overflow)
  endif()
  # Descriptor counts around every test group of the rings that open sockets and files.
  foreach(ring fault_tests integration_tests)
    if(TARGET ${ring})
      target_sources(${ring} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support/watch/fd_watch.cpp)
    endif()
  endforeach()
  if(TARGET zdbd)
    zdb_test_ring(stress_tests stress)
  endif()
endif()
