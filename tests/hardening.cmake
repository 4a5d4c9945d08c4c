# The hardening rings: replies cut and mangled by the scripted peer (part of every suite run,
# so the sanitizer builds cover them too), and the many-thread stress against a real zdbd.
# They count descriptors in /proc and make resets with POSIX sockets: Linux only.
if(NOT WIN32)
  zdb_test_ring(fault_tests faults)
  if(TARGET zdbd)
    zdb_test_ring(stress_tests stress)
  endif()
endif()
