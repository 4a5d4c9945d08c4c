// Handlers of the opcode table, grouped by the files that hold them, and their shared helpers.
#pragma once

#include <string>
#include <vector>

#include "dispatch.h"
#include "schema.h"

namespace zdbd {

// ---- helpers (handler_util.cpp) ----------------------------------------------------------
struct Target {
  std::string db;
  DbUse* use = nullptr;
  std::string table;
  OpenTable* open = nullptr;
};

int32_t SelectedDb(Call& c, Target* t);
int32_t SelectedTable(Call& c, Target* t);
// An open table of the selected database by name (empty: the selected table).
int32_t OpenTableNamed(Call& c, const std::string& name, Target* t);
// A field by name, "TABLE.FIELD" naming an open table other than the selected one.
int32_t FieldOf(Call& c, const std::string& name, Target* t, FieldInfo* f);
int32_t LoadValue(Target& t, const FieldInfo& f, Value* v);
// Stores a value in the current record after checking the locks of other sessions.
int32_t StoreValue(Call& c, Target& t, const FieldInfo& f, const Value& v);
int32_t CheckWritable(Call& c, const Target& t, int64_t record);
bool PrivilegeOk(Call& c, Need need);
std::string Trimmed(const std::string& s);

// ---- session (handlers_session.cpp) --------------------------------------------------------
int32_t HLogin(Call& c);
int32_t HLogout(Call& c);
int32_t HVersion(Call& c);
int32_t HErrorText(Call& c);

// ---- databases and tables (handlers_select.cpp) --------------------------------------------
int32_t HUseDb(Call& c);
int32_t HUnUseDb(Call& c);
int32_t HSelDb(Call& c);
int32_t HGetDb(Call& c);
int32_t HOpenTable(Call& c);
int32_t HCloseTable(Call& c);
int32_t HSelTable(Call& c);
int32_t HGetTable(Call& c);
int32_t HNewDb(Call& c);
int32_t HDelDb(Call& c);
int32_t HNumDb(Call& c);
int32_t HDatabaseList(Call& c);
int32_t HGetDatabaseRecord(Call& c);
int32_t HExist(Call& c);
int32_t HLastUpdate(Call& c);

// ---- records, locks, transactions (handlers_records.cpp) -----------------------------------
int32_t HSeek(Call& c);
int32_t HRead(Call& c);
int32_t HAppendBlank(Call& c);
int32_t HWrite(Call& c);
int32_t HDelete(Call& c);
int32_t HDbLock(Call& c);
int32_t HDbUnlock(Call& c);
int32_t HDbIsLock(Call& c);
int32_t HLockTable(Call& c);
int32_t HRecUnlock(Call& c);
int32_t HWhoLock(Call& c);
int32_t HBegin(Call& c);
int32_t HEnd(Call& c);
int32_t HTrStatus(Call& c);
int32_t HCommit(Call& c);
int32_t HRollBack(Call& c);
int32_t HClearTable(Call& c);
int32_t HCompactTable(Call& c);
int32_t HCurrentKey(Call& c);
int32_t HCreateIndex(Call& c);
int32_t HEraseIndex(Call& c);
int32_t HRebuildIndex(Call& c);
// Moves the current record of `t`; used by the read forms of the whole-record requests too.
int32_t ReadRecord(Call& c, Target& t, const std::string& mode, const std::string& option);

// ---- field values (handlers_values.cpp) ----------------------------------------------------
int32_t HGetField(Call& c);
int32_t HPutField(Call& c);
int32_t HTestField(Call& c);
int32_t HIsNull(Call& c);
int32_t HCpyField(Call& c);
int32_t HFRead(Call& c);
int32_t HFWrite(Call& c);
int32_t HMatGet(Call& c);
int32_t HGetRead(Call& c);
int32_t HMatPut(Call& c);
int32_t HPutWrite(Call& c);

// ---- fields and tables catalog (handlers_catalog.cpp) --------------------------------------
int32_t HInfoFields(Call& c);
int32_t HAddField(Call& c);
int32_t HDelField(Call& c);
int32_t HUpdField(Call& c);
int32_t HGetFieldDescriptor(Call& c);
int32_t HTableFields(Call& c);
int32_t HGFields(Call& c);
int32_t HPFields(Call& c);
int32_t HCanBeDelete(Call& c);
int32_t HCreTable(Call& c);
int32_t HDbTables(Call& c);
int32_t HDelTable(Call& c);
int32_t HPhysName(Call& c);
int32_t HGetTableRecord(Call& c);
int32_t HNumTables(Call& c);
int32_t HUpdTable(Call& c);
int32_t HRename(Call& c);
int32_t HRebTable(Call& c);

// ---- users and privileges (handlers_users.cpp) ---------------------------------------------
int32_t HValidUser(Call& c);
int32_t HReadUser(Call& c);
int32_t HAddUser(Call& c);
int32_t HDelUser(Call& c);
int32_t HUpdUser(Call& c);
int32_t HNumUsers(Call& c);
int32_t HGetUsers(Call& c);
int32_t HGrant(Call& c);
int32_t HRevoke(Call& c);
int32_t HIsAuthorized(Call& c);
int32_t HTbGrantAll(Call& c);
int32_t HTbRevokeAll(Call& c);
int32_t HUsrGrantAll(Call& c);
int32_t HUsrRevokeAll(Call& c);
int32_t HNumUsrPerTb(Call& c);
int32_t HNumTbPerUser(Call& c);
int32_t HUsrPerTable(Call& c);
int32_t HTablesPerUser(Call& c);
int32_t HTbDeleteAll(Call& c);
int32_t HGetAccounts(Call& c);
int32_t HGetPrivileges(Call& c);

// ---- streams (handlers_streams.cpp) --------------------------------------------------------
int32_t HScript(Call& c);
int32_t HExport(Call& c);
int32_t HImport(Call& c);
// Keeps a stream request in step when its handler did not run the streams: consumes an upload,
// sends an empty file, ends a record stream.
bool FinishStreams(Call& c);

// Fixed-width records of the catalog, laid out by zdbd.
void EncodeFieldDescriptor(const FieldInfo& f, uint8_t* out);  // 132 bytes
FieldInfo DecodeFieldDescriptor(const uint8_t* in);

}  // namespace zdbd
