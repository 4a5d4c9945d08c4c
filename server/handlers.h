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
  std::string table;  // the ZDB table
  OpenTable* open = nullptr;
  std::string key;  // the name it is open under in this session (an alias or the table's own)
};

// The table a name stands for in a database in use: an open entry's table, the table itself, or
// the table of a stored alias.
std::string ResolveTable(DbUse& use, const std::string& name);
// The table a stored alias names; empty when there is no such alias.
std::string AliasTarget(Db& db, const std::string& alias);

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
// A table of the selected database by name, open or not (empty: the selected table).
int32_t CatalogTable(Call& c, const std::string& given, Target* t);
// "TABLE.FIELD" (any table of the selected database) or a field of the selected table.
int32_t CatalogField(Call& c, const std::string& given, Target* t, FieldInfo* f);
// Fixed-width texts of the catalog records: zero-terminated, zero-filled, cut to fit.
std::string FixedText(const uint8_t* p, size_t width);
void PutFixedText(uint8_t* p, size_t width, const std::string& text);
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

// ---- constraints and default values (handlers_constraints.cpp) ------------------------------
int32_t HAddConstraint(Call& c);
int32_t HDelConstraint(Call& c);
int32_t HUpdConstraint(Call& c);
int32_t HGetConstraint(Call& c);
int32_t HFieldConstraints(Call& c);
int32_t HPutDefault(Call& c);
int32_t HGetDefault(Call& c);
int32_t HDelDefault(Call& c);

// ---- indexes (handlers_indexes.cpp) ----------------------------------------------------------
int32_t HCreateIndex(Call& c);
int32_t HEraseIndex(Call& c);
int32_t HRebuildIndex(Call& c);
int32_t HAddIndexFields(Call& c);
int32_t HDelIndexFields(Call& c);
int32_t HUpdIndexFields(Call& c);
int32_t HIndexFields(Call& c);
int32_t HTableIndexes(Call& c);
int32_t HGetIndex(Call& c);

// ---- cross references (handlers_xref.cpp) ---------------------------------------------------
int32_t HAddFieldXref(Call& c);
int32_t HAddTableXref(Call& c);
int32_t HDelFieldXref(Call& c);
int32_t HDelTableXref(Call& c);
int32_t HXrefsFromField(Call& c);
int32_t HXrefsToField(Call& c);
int32_t HGetTableXref(Call& c);
int32_t HGetFieldXref(Call& c);
int32_t HDelXref(Call& c);
int32_t HTablesReferredFrom(Call& c);
int32_t HTablesReferringTo(Call& c);
int32_t HGetXrefByName(Call& c);
int32_t HXrefTest(Call& c);

// ---- server files (handlers_backup.cpp) -----------------------------------------------------
int32_t HBackupTable(Call& c);
int32_t HRestoreTable(Call& c);
int32_t HSaveUsers(Call& c);
int32_t HLoadUsers(Call& c);

// ---- around the tables (handlers_misc.cpp) --------------------------------------------------
int32_t HAlias(Call& c);
int32_t HTableAliases(Call& c);
int32_t HCopyTwoFields(Call& c);
int32_t HCopyTable(Call& c);
int32_t HTableId(Call& c);
int32_t HStructure(Call& c);
int32_t HFieldSpecFormat(Call& c);
int32_t HFieldSpecToTable(Call& c);
int32_t HCreate(Call& c);
int32_t HExpressionCheck(Call& c);
int32_t HSelector(Call& c);
int32_t HInternal(Call& c);

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
