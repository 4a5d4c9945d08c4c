# ThreadSanitizer build of the library, zdbd and the suite. Optimised a little so that the
# stress ring does enough work in its time; frame pointers keep the reports' stacks whole.
if(ZDB_TSAN)
  if(ZDB_SANITIZE)
    message(FATAL_ERROR "ZDB_TSAN and ZDB_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g -O1)
  add_link_options(-fsanitize=thread)
endif()

# libFuzzer targets in fuzz/ (clang only); they build the library's and zdbd's pieces with
# -fsanitize=fuzzer-no-link,address themselves.
option(ZDB_FUZZ "Build the libFuzzer targets (clang)" OFF)
macro(zdb_fuzz_targets)
  if(ZDB_FUZZ)
    add_subdirectory(${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endmacro()
if(ZDB_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined -g)
  add_link_options(-fsanitize=address,undefined)
endif()
