# Install rules and the CMake and pkg-config packages of the library, plus the programs.
#   cmake --install build --prefix PREFIX
# installs the versioned shared library, the header, the CMake package
# (find_package(zdb_api 1.0) -> zdb::zdb_api), zdb_api.pc, zdbd, zdb, zdbd_load and the docs.
# The build tree is a package too: -Dzdb_api_DIR=<build dir> finds the library uncopied.
# Components: runtime (the library), dev (header, packages, unversioned link, docs),
# server (zdbd with its service files), tools (zdb, zdbd_load); cmake/packaging.cmake turns
# them into Debian packages.
# The library directory (multiarch on Debian) and the programs' run path are chosen in the top
# CMakeLists.txt, before any subdirectory reads GNUInstallDirs.
include(CMakePackageConfigHelpers)

# The one version number is the project's (top CMakeLists.txt): the library, the packages, the
# CMake package, zdb_api.pc, zdb --version and zdbd --version all report it.
set(ZDB_VERSION ${PROJECT_VERSION})
set(ZDB_SOVERSION ${PROJECT_VERSION_MAJOR})
set(ZDB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zdb_api)

add_library(zdb::zdb_api ALIAS zdb_api)
if(NOT ZDB_WIN32)
  set_target_properties(zdb_api PROPERTIES VERSION ${ZDB_VERSION} SOVERSION ${ZDB_SOVERSION})
endif()
# Consumers see the source header from the build tree and the installed one from a prefix.
set_property(TARGET zdb_api PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS zdb_api EXPORT zdb_apiTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${CMAKE_SOURCE_DIR}/include/zdb_api.h ${CMAKE_SOURCE_DIR}/include/zdb_api_catalog.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# ---- CMake package, for an installed prefix and for the build tree --------------------------
install(EXPORT zdb_apiTargets NAMESPACE zdb:: DESTINATION ${ZDB_CMAKE_DIR} COMPONENT dev)
export(EXPORT zdb_apiTargets NAMESPACE zdb:: FILE ${CMAKE_BINARY_DIR}/zdb_apiTargets.cmake)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/zdb_apiConfig.cmake.in
  ${CMAKE_BINARY_DIR}/zdb_apiConfig.cmake INSTALL_DESTINATION ${ZDB_CMAKE_DIR})
# 1.x releases keep the interface: a caller asking for 1.0 accepts any 1.y.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zdb_apiConfigVersion.cmake
  VERSION ${ZDB_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zdb_apiConfig.cmake ${CMAKE_BINARY_DIR}/zdb_apiConfigVersion.cmake
  DESTINATION ${ZDB_CMAKE_DIR} COMPONENT dev)

# ---- pkg-config: relative to its own place, so that a moved prefix still works -------------
file(RELATIVE_PATH ZDB_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" ZDB_PC_TO_PREFIX "${ZDB_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/zdb_api.pc.in ${CMAKE_BINARY_DIR}/zdb_api.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zdb_api.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# ---- programs ------------------------------------------------------------------------------
# An installed program finds the library through a run path relative to its own place
# ($ORIGIN/../lib/<arch>), so a prefix outside the loader's search works without LD_LIBRARY_PATH.
file(RELATIVE_PATH ZDB_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(entry zdbd:server zdb:tools zdbd_load:tools)
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 program)
  list(GET parts 1 component)
  if(TARGET ${program})
    if(NOT ZDB_WIN32 AND NOT program STREQUAL "zdbd")  # zdbd does not use the library
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/${ZDB_BIN_TO_LIB}")
    endif()
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()

# ---- docs ----------------------------------------------------------------------------------
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/guide.md
  ${CMAKE_SOURCE_DIR}/docs/records.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libzdb-api-dev COMPONENT dev OPTIONAL)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/examples/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libzdb-api-dev/examples COMPONENT dev OPTIONAL
  FILES_MATCHING PATTERN "*.c" PATTERN "CMakeLists.txt" PATTERN "Makefile")
if(TARGET zdbd)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/server.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zdbd COMPONENT server)
endif()
