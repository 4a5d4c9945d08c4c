# zdb.exe: the tool cross-built for Windows (included by tools/CMakeLists.txt when WIN32).
# Debian ships neither SQLite nor libedit for mingw-w64, and the trace relay is written for
# POSIX sockets, so this build leaves out: SQLite dumps (dump writes CSV only; load, which reads
# SQLite dumps, is refused), line editing and history in the shell, and trace. Everything else
# is the same source as on Linux, linked against zdb_api.dll through its import library.
find_path(ZDB_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# CLI11 is header-only, but the host's include directory must not shadow mingw's own headers:
# copy the one folder it needs into the build tree.
file(COPY ${ZDB_CLI11_INCLUDE}/CLI DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/cli11)

add_library(zdb_cli STATIC zdb/sql_format.cpp zdb/progress.cpp zdb/common.cpp zdb/catalog.cpp
  zdb/dump_sink.cpp zdb/admin.cpp zdb/script_rows.cpp zdb/table_rules.cpp zdb/csv_dump.cpp
  zdb/platform_win32.cpp)
target_include_directories(zdb_cli PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/cli11 ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/src)
# mingw's own printf family: the system's lacks %zu.
target_compile_definitions(zdb_cli PUBLIC ZDB_TOOL_SQLITE=0 __USE_MINGW_ANSI_STDIO=1
  ZDB_TOOL_PRINTF_STYLE=gnu_printf)
zdb_strict(zdb_cli)

add_executable(zdb zdb/main.cpp zdb/cmd_server.cpp zdb/cmd_sql.cpp zdb/cmd_transfer.cpp
  zdb/cmd_trace.cpp zdb/cmd_dump.cpp zdb/cmd_shell.cpp zdb/cmd_admin.cpp zdb/cmd_admin_users.cpp
  zdb/cmd_admin_schema.cpp zdb/cmd_admin_rules.cpp zdb/cmd_status.cpp)
if(PROJECT_VERSION)
  set(ZDB_TOOL_VERSION ${PROJECT_VERSION})
else()
  set(ZDB_TOOL_VERSION 0.1)
endif()
target_compile_definitions(zdb PRIVATE ZDB_TOOL_LINE_EDITING=0 ZDB_TOOL_TRACE=0
  ZDB_TOOL_VERSION="${ZDB_TOOL_VERSION}")
target_link_libraries(zdb PRIVATE zdb_cli zdb_platform zdb_api_import)
# The C++ runtime linked in: zdb.exe needs only zdb_api.dll beside it. Stripped for the SDK.
target_link_options(zdb PRIVATE -static -s)
zdb_strict(zdb)
# Built into the SDK's bin folder, beside the DLL, and so into the SDK archive.
if(TARGET zdb_sdk)
  set_target_properties(zdb PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZDB_SDK_DIR}/bin)
  add_dependencies(zdb_sdk zdb)
endif()
