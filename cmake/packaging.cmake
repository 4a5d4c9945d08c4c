# Debian packages from the install components (cmake/install.cmake):
#   cpack --config build/CPackConfig.cmake -B OUTDIR
# libzdb-api1 (runtime), libzdb-api-dev (dev), zdbd (server: service unit, default options,
# its own user over /var/lib/zdbd) and zdb-tools (tools). The packages install under /usr.
if(ZDB_WIN32)
  return()
endif()

set(ZDB_PKG_DIR ${CMAKE_SOURCE_DIR}/cmake/packaging)
set(ZDB_DEB_NAMES runtime libzdb-api1 dev libzdb-api-dev server zdbd tools zdb-tools)

# Each package carries its copyright and a compressed changelog in /usr/share/doc/PACKAGE.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${ZDB_PKG_DIR}/changelog
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZDB_PKG_DIR}/changelog)
set(ZDB_DEB_COMPONENTS "")
while(ZDB_DEB_NAMES)
  list(POP_FRONT ZDB_DEB_NAMES component package)
  if(component STREQUAL "server" AND NOT TARGET zdbd)
    continue()
  endif()
  if(component STREQUAL "tools" AND NOT TARGET zdb)
    continue()
  endif()
  list(APPEND ZDB_DEB_COMPONENTS ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${ZDB_PKG_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()

if(TARGET zdbd)
  install(FILES ${ZDB_PKG_DIR}/zdbd.service DESTINATION /lib/systemd/system COMPONENT server
    EXCLUDE_FROM_ALL)
  install(FILES ${ZDB_PKG_DIR}/zdbd.default DESTINATION /etc/default RENAME zdbd
    COMPONENT server EXCLUDE_FROM_ALL)
  install(FILES ${ZDB_PKG_DIR}/zdbd.logrotate DESTINATION /etc/logrotate.d RENAME zdbd
    COMPONENT server EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME zdb-api)
set(CPACK_PACKAGE_VERSION ${ZDB_VERSION})
set(CPACK_PACKAGE_VENDOR "zdb_api developers")
set(CPACK_PACKAGE_CONTACT "zdb_api maintainers <maintainers@users.noreply.c-seed-1dec388f.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${ZDB_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of the runtime package, which is not installed while building.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "client library of the ZDB database server
zdb_api lets C and C++ programs work with databases held by a ZDB server:
select a host, log in, use databases and tables, read and write fields and
whole records, lock, run transactions and SQL scripts, administer the catalog.")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${ZDB_PKG_DIR}/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "client library of the ZDB database server - development files
The header zdb_api.h with the API reference in its comments, the unversioned
link, the CMake package (find_package(zdb_api) gives zdb::zdb_api), the
pkg-config file zdb_api.pc, the user's guide and its examples.")

set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION database)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "stand-in ZDB database server over SQLite
zdbd speaks the request protocol of the ZDB server and keeps its databases as
SQLite files. The package runs it as the systemd service zdbd, as its own
user over /var/lib/zdbd, with the options of /etc/default/zdbd, logging to
/var/log/zdbd (rotated by logrotate); it can serve Prometheus metrics.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${ZDB_PKG_DIR}/postinst ${ZDB_PKG_DIR}/prerm ${ZDB_PKG_DIR}/postrm ${ZDB_PKG_DIR}/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION database)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line tools of the ZDB client library
zdb probes and stops servers, shows the text of result codes, runs SQL
scripts, exports and imports databases and traces the traffic between a
program and its server; zdbd_load puts a bounded load on a server.")

include(CPack)
