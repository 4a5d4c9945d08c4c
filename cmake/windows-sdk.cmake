# Windows only: the import libraries a program that includes zdb_api.h links against, and the
# SDK archive (header, DLL, import libraries for mingw and MSVC, .def, README, example).
#
# The linker's own import library cannot serve: on 32-bit it holds the .def's internal
# stdcall names (_ZDB_SelHost, __ZDB_SelHost@4), while the header's stdcall declarations
# reference ZDB_SelHost@4. Ours are made from the per-function lists that exports.cmake writes.
if(NOT ZDB_WIN32)
  return()
endif()

if(ZDB_WIN32_X86)
  set(ZDB_SDK_ARCH i686)
  set(ZDB_LLVM_MACHINE i386)
else()
  set(ZDB_SDK_ARCH x86_64)
  set(ZDB_LLVM_MACHINE i386:x86-64)
endif()

# The binutils of the cross compiler: x86_64-w64-mingw32-gcc[-posix] -> x86_64-w64-mingw32-dlltool
get_filename_component(zdb_cc_name "${CMAKE_C_COMPILER}" NAME)
string(REGEX REPLACE "-gcc(-[0-9]+)?(-posix|-win32)?$" "" zdb_triplet "${zdb_cc_name}")
find_program(ZDB_DLLTOOL NAMES ${zdb_triplet}-dlltool REQUIRED)
find_program(ZDB_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(ZDB_LLVM_LIB NAMES llvm-lib llvm-lib-14 REQUIRED)

set(ZDB_SDK_DIR ${CMAKE_BINARY_DIR}/sdk/zdb_api-${ZDB_SDK_ARCH})
set(ZDB_MINGW_IMPLIB ${ZDB_SDK_DIR}/lib/libzdb_api.dll.a)
set(ZDB_MSVC_IMPLIB ${ZDB_SDK_DIR}/lib/zdb_api.lib)

if(ZDB_WIN32_X86)
  set(zdb_kill_at -k)  # the symbol keeps @N, the imported name drops it
else()
  set(zdb_kill_at "")
endif()
# MSVC's .lib: llvm-dlltool writes the short import format link.exe writes itself. Functions
# exported only under their decorated name need an import by that exact name, which only a
# list without -k gives, so they come from a second list and both are merged into one .lib.
add_custom_command(
  OUTPUT ${ZDB_MINGW_IMPLIB} ${ZDB_MSVC_IMPLIB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZDB_SDK_DIR}/lib
  COMMAND ${ZDB_DLLTOOL} -k -d ${CMAKE_BINARY_DIR}/zdb_api.imports.def -l ${ZDB_MINGW_IMPLIB}
  COMMAND ${ZDB_LLVM_DLLTOOL} -m ${ZDB_LLVM_MACHINE} ${zdb_kill_at}
          -d ${CMAKE_BINARY_DIR}/zdb_api.msvc.def -l ${CMAKE_BINARY_DIR}/zdb_api_plain.lib
  COMMAND ${ZDB_LLVM_DLLTOOL} -m ${ZDB_LLVM_MACHINE}
          -d ${CMAKE_BINARY_DIR}/zdb_api.msvc-decorated.def
          -l ${CMAKE_BINARY_DIR}/zdb_api_decorated.lib
  COMMAND ${ZDB_LLVM_LIB} /out:${ZDB_MSVC_IMPLIB} ${CMAKE_BINARY_DIR}/zdb_api_plain.lib
          ${CMAKE_BINARY_DIR}/zdb_api_decorated.lib
  DEPENDS ${CMAKE_BINARY_DIR}/zdb_api.imports.def ${CMAKE_BINARY_DIR}/zdb_api.msvc.def
          ${CMAKE_BINARY_DIR}/zdb_api.msvc-decorated.def
  COMMENT "Import libraries of zdb_api.dll for mingw and MSVC"
  VERBATIM)
add_custom_target(zdb_import_libs ALL DEPENDS ${ZDB_MINGW_IMPLIB} ${ZDB_MSVC_IMPLIB})

# Programs of this build link the DLL as users do: the header and our import library.
add_library(zdb_api_import INTERFACE)
target_include_directories(zdb_api_import INTERFACE ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(zdb_api_import INTERFACE ${ZDB_MINGW_IMPLIB})
add_dependencies(zdb_api_import zdb_import_libs zdb_api)

# A C file that takes the address of every exported function, so a link against an import
# library proves every declaration of the header finds its export.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/api/exports.txt zdb_lines)
set(zdb_refs "")
foreach(line IN LISTS zdb_lines)
  if(line MATCHES "posix-only")
    continue()
  endif()
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+[0-9]+")
    string(APPEND zdb_refs "    (const void*)${CMAKE_MATCH_1},\n")
  endif()
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/zdb_all_imports.c
  "/* Generated from src/api/exports.txt: every function of zdb_api.h, imported. */\n"
  "#include \"zdb_api.h\"\n"
  "const void* const zdb_all_imports[] = {\n${zdb_refs}};\n"
  "int zdb_all_imports_count(void) { return sizeof zdb_all_imports / sizeof *zdb_all_imports; }\n")

# The SDK: what a Windows developer unpacks. The .def lists the DLL's export table as built.
set(ZDB_SDK_ARCHIVE ${CMAKE_BINARY_DIR}/zdb_api-sdk-${ZDB_SDK_ARCH}.zip)
add_custom_target(zdb_sdk
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZDB_SDK_DIR}/include ${ZDB_SDK_DIR}/bin
          ${ZDB_SDK_DIR}/example
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/include/zdb_api.h
          ${CMAKE_SOURCE_DIR}/include/zdb_api_catalog.h ${ZDB_SDK_DIR}/include/
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zdb_api> ${ZDB_SDK_DIR}/bin/
  COMMAND ${CMAKE_COMMAND} -DEXPECTED=${CMAKE_BINARY_DIR}/exports_expected.txt
          -DOUT=${ZDB_SDK_DIR}/lib/zdb_api.def -P ${CMAKE_SOURCE_DIR}/cmake/write_sdk_def.cmake
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/windows/README.md ${ZDB_SDK_DIR}/
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/examples/demo.c
          ${ZDB_SDK_DIR}/example/zdb_example.c
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZDB_SDK_ARCHIVE} --format=zip zdb_api-${ZDB_SDK_ARCH}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/sdk
  DEPENDS zdb_api zdb_import_libs
  COMMENT "SDK archive ${ZDB_SDK_ARCHIVE}"
  VERBATIM)
