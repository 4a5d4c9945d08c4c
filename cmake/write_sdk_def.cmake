# cmake -DEXPECTED=exports_expected.txt -DOUT=zdb_api.def -P write_sdk_def.cmake
# The SDK's .def: the DLL's export table, for tools that make an import library of their own.
file(STRINGS "${EXPECTED}" names)
set(def "LIBRARY zdb_api.dll\nEXPORTS\n")
foreach(name IN LISTS names)
  if(NOT name STREQUAL "")
    string(APPEND def "  ${name}\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${def}")
