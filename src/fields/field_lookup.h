// The field cache's operations on a Session: table places and field definitions, answered from
// the cache where it can and from the server otherwise.
#pragma once

#include <cstdint>

#include "session/field_cache.h"

namespace zdb {

class Session;

// The cache operations, all on the calling thread's own Session. Table names are keyed with
// "%-32s", field names likewise after trimming, letter case significant. `index` receives the
// table place on 1000. A table name without a key is 2003.
int32_t FindTable(Session& s, const char* table, uint8_t* index);
int32_t AddTable(Session& s, const char* table, uint8_t* index);
int32_t DropTable(Session& s, const char* table, uint8_t* index);

// Field definitions of the listed fields ("*" or names separated by ",") into a 12900-byte
// buffer: from the selected table's cached block when there is one, otherwise from the server
// (the InfoFields request). The list is sent in a full reply and so overwritten: pass writable
// memory. Also stored as the Session's lastResult. A list item longer than a field name can be is
// 2003, and nothing is sent.
int32_t LookupFieldDefs(Session& s, char* fieldList, uint8_t* out);
int32_t CopyCachedFieldDefs(Session& s, const char* fieldList, uint8_t* out);

}  // namespace zdb
