// The catalog members with steps of their own beyond their row in catalog_members.h. Each takes
// the calling thread's Session and returns the ResultCode the exported function returns.
#pragma once

#include <cstdint>

#include "session/session.h"

namespace zdb::catalog {

// Lists whose texts come back in the server character set: converted in place after the
// exchange, over the entries the server counted but never beyond the entries that were sent.
int32_t DataBase(Session& s, int32_t count, char* names);
int32_t DbTables(Session& s, int32_t count, char* names);
int32_t GetAccounts(Session& s, void* accounts, int32_t count);
// The database record's two texts (at bytes 5 and 261) come back converted, within the record.
int32_t GetDataBase(Session& s, void* record);

// The field descriptor of one field; without `defaultValue` the field slot is the wildcard.
int32_t GetField(Session& s, char* fieldName, char* defaultValue, void* descriptor);
// Sends changed field definitions, then reloads the current table's cached definitions.
int32_t PFields(Session& s, void* definitions, int32_t length);

// The run login: a login with two more slots that marks the Session as a run session for good.
int32_t Run(Session& s, const char* user, const char* password, void* data, int32_t length,
            int32_t* counter);
// The end of a run session: a logout that exchanges one buffer.
int32_t NoRun(Session& s, void* data, int32_t length);

// In-place conversions from the server character set, bounded as described above; exposed for
// the unit tests. `returned` is the count the reply left, `sent` the count that sized the buffer.
void ConvertCountedTexts(uint8_t* list, int32_t sent, int32_t returned, uint32_t entryWidth,
                         uint32_t textWidth);
void ConvertDatabaseRecord(uint8_t* record);

}  // namespace zdb::catalog

// Whole databases moved as files inside one exchange: an export streams the server's file to a
// local path, an import sends a local file and streams the server's answer file back. Their
// request layouts are their rows in the catalog member table.
namespace zdb::catalog {

int32_t ExportDB(Session& s, const char* first, const char* second, const char* localPath);
int32_t ImportDB(Session& s, const char* first, const char* second, const char* sendPath,
                 const char* receivePath);

}  // namespace zdb::catalog
