// Field reads and writes with a leading text sent ahead of the field name.
#pragma once

#include <cstdint>

#include "requests/single_field.h"

namespace zdb::tables {

int32_t FRead(Session& s, char* leading, char* name, void* value, uint32_t size);
int32_t FWrite(Session& s, char* leading, char* name, void* value, uint32_t size);

// Where ZDB_FRead with size -2 leaves its value; kept apart from ZDB_GetField's.
fields::LibraryValueBuffer& FReadBuffer();

}  // namespace zdb::tables
