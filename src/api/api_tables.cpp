// Entry points of database and table selection, records and locks, transactions, table
// maintenance and the field-definition lookup.
#include "api/guard.h"
#include "requests/field_lookup.h"
#include "requests/records.h"
#include "requests/selection.h"
#include "zdb_api.h"

namespace zdb {
namespace {

using tables::Selection;

template <class... A>
int32_t Send(const RequestSpec& spec, A... args) {
  return api::WithSession([&](Session& s) { return ExecuteRequest(s, spec, {ArgValue(args)...}); });
}

template <class... A>
int32_t Select(Selection member, A... args) {
  return api::WithSession(
      [&](Session& s) { return tables::RunSelection(s, member, {ArgValue(args)...}); });
}

}  // namespace
}  // namespace zdb

using zdb::Select;
using zdb::Send;
using zdb::tables::Selection;
namespace t = zdb::tables;

extern "C" {

// ---- databases and tables ----
int32_t ZDB_CALL ZDB_UseDB(const char* name) {
  return Select(Selection::kUseDB, name);
}
int32_t ZDB_CALL ZDB_UnUseDB(const char* name) {
  return Select(Selection::kUnUseDB, name);
}
int32_t ZDB_CALL ZDB_SelDB(const char* name) {
  return Select(Selection::kSelDB, name);
}
int32_t ZDB_CALL ZDB_GetDB(char* name) {
  return Select(Selection::kGetDB, name);
}
int32_t ZDB_CALL ZDB_OpenTable(const char* table, const char* second, const char* third) {
  return Select(Selection::kOpenTable, table, second, third);
}
int32_t ZDB_CALL ZDB_CloseTable(const char* table) {
  return Select(Selection::kCloseTable, table);
}
int32_t ZDB_CALL ZDB_SelTable(const char* table, const char* second) {
  return Select(Selection::kSelTable, table, second);
}
int32_t ZDB_CALL ZDB_GetTable(char* table) {
  return Select(Selection::kGetTable, table);
}
int32_t ZDB_CALL ZDB_Alias(const char* first, const char* second, const char* third) {
  return Select(Selection::kAlias, first, second, third);
}
int32_t ZDB_CALL Z_InfoFields(char* fieldList, void* fieldDefs) {
  return zdb::api::WithSession([&](zdb::Session& s) {
    return zdb::LookupFieldDefs(s, fieldList, static_cast<uint8_t*>(fieldDefs));
  });
}

// ---- records and locks ----
int32_t ZDB_CALL ZDB_DBLock(const char* text) {
  return Send(t::kDBLock, text);
}
int32_t ZDB_CALL ZDB_DBUnLock(const char* text) {
  return Send(t::kDBUnLock, text);
}
int32_t ZDB_CALL ZDB_DBIsLock(const char* text) {
  return Send(t::kDBIsLock, text);
}
int32_t ZDB_CALL ZDB_LockTable(const char* text) {
  return Send(t::kLockTable, text);
}
int32_t ZDB_CALL ZDB_Seek(const char* first, const char* second) {
  return Send(t::kSeek, first, second);
}
int32_t ZDB_CALL ZDB_Read(const char* first, const char* second) {
  return Send(t::kRead, first, second);
}
int32_t ZDB_CALL ZDB_AppendBlank(void) {
  return Send(t::kAppendBlank);
}
int32_t ZDB_CALL ZDB_Write(void) {
  return Send(t::kWrite);
}
int32_t ZDB_CALL ZDB_Delete(const char* text) {
  return Send(t::kDelete, text);
}
int32_t ZDB_CALL ZDB_RecUnLock(const char* text) {
  return Send(t::kRecUnLock, text);
}
int32_t ZDB_CALL ZDB_WhoLock(char* text, char* holder) {
  return Send(t::kWhoLock, text, holder);
}

// ---- transactions ----
int32_t ZDB_CALL ZDB_BeginTransaction(void) {
  return Send(t::kBeginTransaction);
}
int32_t ZDB_CALL ZDB_EndTransaction(void) {
  return Send(t::kEndTransaction);
}
int32_t ZDB_CALL ZDB_TRStatus(int32_t* status) {
  return Send(t::kTRStatus, status);
}
int32_t ZDB_CALL ZDB_Commit(void) {
  return Send(t::kCommit);
}
int32_t ZDB_CALL ZDB_RollBack(void) {
  return Send(t::kRollBack);
}

// ---- table maintenance ----
int32_t ZDB_CALL ZDB_BackupTable(const char* first, const char* second) {
  return Send(t::kBackupTable, first, second);
}
int32_t ZDB_CALL ZDB_RestoreTable(const char* first, const char* second) {
  return Send(t::kRestoreTable, first, second);
}
int32_t ZDB_CALL ZDB_CreateIndex(const char* first, const char* second, const char* third) {
  return Send(t::kCreateIndex, first, second, third);
}
int32_t ZDB_CALL ZDB_EraseIndex(const char* text) {
  return Send(t::kEraseIndex, text);
}
int32_t ZDB_CALL ZDB_RebuildIndex(const char* text) {
  return Send(t::kRebuildIndex, text);
}
int32_t ZDB_CALL ZDB_CompactTable(const char* text) {
  return Send(t::kCompactTable, text);
}
int32_t ZDB_CALL ZDB_ClearTable(const char* text, int32_t value) {
  return Send(t::kClearTable, text, value);
}
int32_t ZDB_CALL ZDB_FFCopy(const char* first, const char* second) {
  return Send(t::kFFCopy, first, second);
}
int32_t ZDB_CALL ZDB_XRefTest(const char* first, const char* second) {
  return Send(t::kXRefTest, first, second);
}

}  // extern "C"
