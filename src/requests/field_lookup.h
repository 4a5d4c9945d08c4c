// The field cache's operations on a Session: table places and field definitions, answered from
// the cache where it can and from the server otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/field_cache.h"
#include "session/session.h"

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

// The field-descriptor request: the 132-byte descriptor of one field of the current
// table. Exported as Z_GetField and sent by the single-field and direct field calls when they
// must size a value that the field definitions did not deliver.
namespace zdb::fields {

inline constexpr size_t kDescriptorSize = wire::kFieldDescriptorSize;
inline constexpr size_t kDefaultValueSize = wire::kValueTextSize;
inline constexpr size_t kDescriptorSubtype = 99;
inline constexpr size_t kDescriptorType = 100;
inline constexpr size_t kDescriptorCharWidth = 101;
inline constexpr size_t kDescriptorOtherWidth = 105;

// `fieldName` is sent with its zero and, like every slot of a full reply, overwritten by the
// reply: internal callers pass a private copy. Without `second` the slot carries the one byte
// "*". Returns the Session's lastResult.
int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor);

}  // namespace zdb::fields
