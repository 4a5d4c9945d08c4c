// Exported entry points of the catalog family: each finds the calling thread's Session and runs
// the member's row of the catalog table, or the member's own steps where it has some.
#include <cstddef>
#include <initializer_list>

#include "api/guard.h"
#include "requests/catalog_members.h"
#include "requests/catalog_ops.h"
#include "requests/request_table.h"
#include "zdb_api.h"

using zdb::ArgValue;
using zdb::Session;
using zdb::catalog::MemberIndex;

namespace {

template <size_t I>
int32_t Member(std::initializer_list<ArgValue> args) {
  return zdb::api::WithSession(
      [&](Session& s) { return zdb::ExecuteRequest(s, zdb::catalog::kMember<I>, args); });
}

}  // namespace

namespace catalog = zdb::catalog;

extern "C" int32_t ZDB_CALL Z_NewDB(const char* database, const char* description,
                                    const char* location, int32_t flags, const char* options) {
  return Member<MemberIndex("Z_NewDB")>({database, description, location, flags, options});
}

extern "C" int32_t ZDB_CALL Z_DelDB(void) {
  return Member<MemberIndex("Z_DelDB")>({});
}

extern "C" int32_t ZDB_CALL Z_NumDB(int32_t* databases, int32_t* inUse) {
  return Member<MemberIndex("Z_NumDB")>({databases, inUse});
}

extern "C" int32_t ZDB_CALL Z_DataBase(int32_t count, char* names) {
  return zdb::api::WithSession([&](Session& s) { return catalog::DataBase(s, count, names); });
}

extern "C" int32_t ZDB_CALL Z_GetDataBase(void* record) {
  return zdb::api::WithSession([&](Session& s) { return catalog::GetDataBase(s, record); });
}

extern "C" int32_t ZDB_CALL Z_CreTable(const char* table, const char* fieldSpec,
                                       const char* description, void* tableRecord) {
  return Member<MemberIndex("Z_CreTable")>({table, fieldSpec, description, tableRecord});
}

extern "C" int32_t ZDB_CALL Z_DbTables(int32_t count, char* names) {
  return zdb::api::WithSession([&](Session& s) { return catalog::DbTables(s, count, names); });
}

extern "C" int32_t ZDB_CALL Z_DelTable(const char* table, int32_t flags) {
  return Member<MemberIndex("Z_DelTable")>({table, flags});
}

extern "C" int32_t ZDB_CALL Z_GetPhysName(char* path) {
  return Member<MemberIndex("Z_GetPhysName")>({path});
}

extern "C" int32_t ZDB_CALL Z_GetFsf(void* version) {
  return Member<MemberIndex("Z_GetFsf")>({version});
}

extern "C" int32_t ZDB_CALL Z_GetTable(void* tableRecord) {
  return Member<MemberIndex("Z_GetTable")>({tableRecord});
}

extern "C" int32_t ZDB_CALL Z_NumTables(int32_t* tables, int32_t* open) {
  return Member<MemberIndex("Z_NumTables")>({tables, open});
}

extern "C" int32_t ZDB_CALL Z_RebTable(int32_t first, int32_t second) {
  return Member<MemberIndex("Z_RebTable")>({first, second});
}

extern "C" int32_t ZDB_CALL Z_UpdTable(void* tableRecord) {
  return Member<MemberIndex("Z_UpdTable")>({tableRecord});
}

extern "C" int32_t ZDB_CALL Z_GetIDTable(char* database, char* table, void* id) {
  return Member<MemberIndex("Z_GetIDTable")>({database, table, id});
}

extern "C" int32_t ZDB_CALL Z_Structure(char* table, void* structure, int32_t* count) {
  return Member<MemberIndex("Z_Structure")>({table, structure, count});
}

extern "C" int32_t ZDB_CALL Z_Rename(const char* from, const char* to) {
  return Member<MemberIndex("Z_Rename")>({from, to});
}

extern "C" int32_t ZDB_CALL Z_TableAlias(void* aliases, int32_t* count) {
  return Member<MemberIndex("Z_TableAlias")>({aliases, count});
}

extern "C" int32_t ZDB_CALL Z_AddField(const char* table, const char* field, void* descriptor) {
  return Member<MemberIndex("Z_AddField")>({table, field, descriptor});
}

extern "C" int32_t ZDB_CALL Z_DelField(const char* field) {
  return Member<MemberIndex("Z_DelField")>({field});
}

extern "C" int32_t ZDB_CALL Z_UpdField(const char* table, const char* field, void* descriptor) {
  return Member<MemberIndex("Z_UpdField")>({table, field, descriptor});
}

extern "C" int32_t ZDB_CALL Z_GetField(char* field, char* description, void* descriptor) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::GetField(s, field, description, descriptor); });
}

extern "C" int32_t ZDB_CALL Z_TableFields(int32_t* count, void* names) {
  return Member<MemberIndex("Z_TableFields")>({count, names});
}

extern "C" int32_t ZDB_CALL Z_GFields(void* definitions, int32_t length) {
  return Member<MemberIndex("Z_GFields")>({definitions, length});
}

extern "C" int32_t ZDB_CALL Z_PFields(void* definitions, int32_t length) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::PFields(s, definitions, length); });
}

extern "C" int32_t ZDB_CALL Z_CanBeDelete(const char* field) {
  return Member<MemberIndex("Z_CanBeDelete")>({field});
}

extern "C" int32_t ZDB_CALL Z_AddIFields(const char* index, const char* fields, int32_t flags) {
  return Member<MemberIndex("Z_AddIFields")>({index, fields, flags});
}

extern "C" int32_t ZDB_CALL Z_DelIFields(const char* index, const char* fields) {
  return Member<MemberIndex("Z_DelIFields")>({index, fields});
}

extern "C" int32_t ZDB_CALL Z_UpdIFields(const char* index, const char* fields, int32_t flags) {
  return Member<MemberIndex("Z_UpdIFields")>({index, fields, flags});
}

extern "C" int32_t ZDB_CALL Z_IndexFields(char* index, int32_t* count, void* fields) {
  return Member<MemberIndex("Z_IndexFields")>({index, count, fields});
}

extern "C" int32_t ZDB_CALL Z_TableIndex(int32_t* count, void* indexes) {
  return Member<MemberIndex("Z_TableIndex")>({count, indexes});
}

extern "C" int32_t ZDB_CALL Z_GetIndex(char* index, void* indexRecord) {
  return Member<MemberIndex("Z_GetIndex")>({index, indexRecord});
}

extern "C" int32_t ZDB_CALL Z_AddConstrain(const char* field, void* constraint) {
  return Member<MemberIndex("Z_AddConstrain")>({field, constraint});
}

extern "C" int32_t ZDB_CALL Z_DelConstrain(const char* field, int32_t number) {
  return Member<MemberIndex("Z_DelConstrain")>({field, number});
}

extern "C" int32_t ZDB_CALL Z_UpdConstrain(const char* field, void* constraint) {
  return Member<MemberIndex("Z_UpdConstrain")>({field, constraint});
}

extern "C" int32_t ZDB_CALL Z_GetConstrain(char* field, int32_t number, void* constraint) {
  return Member<MemberIndex("Z_GetConstrain")>({field, number, constraint});
}

extern "C" int32_t ZDB_CALL Z_FieldConstrain(char* field, int32_t* count, void* constraints) {
  return Member<MemberIndex("Z_FieldConstrain")>({field, count, constraints});
}

extern "C" int32_t ZDB_CALL Z_PutDefaultValue(const char* field, const char* value) {
  return Member<MemberIndex("Z_PutDefaultValue")>({field, value});
}

extern "C" int32_t ZDB_CALL Z_GetDefaultValue(char* field, char* value) {
  return Member<MemberIndex("Z_GetDefaultValue")>({field, value});
}

extern "C" int32_t ZDB_CALL Z_DelDefaultValue(const char* field) {
  return Member<MemberIndex("Z_DelDefaultValue")>({field});
}

extern "C" int32_t ZDB_CALL Z_AddFXREF(const char* name, const char* fromTable,
                                       const char* fromField, const char* toTable,
                                       const char* toField, const char* rule,
                                       const char* description) {
  return Member<MemberIndex("Z_AddFXREF")>(
      {name, fromTable, fromField, toTable, toField, rule, description});
}

extern "C" int32_t ZDB_CALL Z_AddTXREF(const char* name, const char* fromTable,
                                       const char* fromField, const char* toTable,
                                       const char* toField, const char* rule,
                                       const char* description) {
  return Member<MemberIndex("Z_AddTXREF")>(
      {name, fromTable, fromField, toTable, toField, rule, description});
}

extern "C" int32_t ZDB_CALL Z_DelFXREF(const char* fromTable, const char* fromField,
                                       const char* toTable, const char* toField) {
  return Member<MemberIndex("Z_DelFXREF")>({fromTable, fromField, toTable, toField});
}

extern "C" int32_t ZDB_CALL Z_DelTXREF(const char* fromTable, const char* fromField,
                                       const char* toTable, const char* toField) {
  return Member<MemberIndex("Z_DelTXREF")>({fromTable, fromField, toTable, toField});
}

extern "C" int32_t ZDB_CALL Z_XRefFromField(char* field, void* xrefs, int32_t* count) {
  return Member<MemberIndex("Z_XRefFromField")>({field, xrefs, count});
}

extern "C" int32_t ZDB_CALL Z_XRefToField(char* field, void* xrefs, int32_t* count) {
  return Member<MemberIndex("Z_XRefToField")>({field, xrefs, count});
}

extern "C" int32_t ZDB_CALL Z_GetTXREF(char* fromTable, char* fromField, char* toTable,
                                       char* toField, void* xref) {
  return Member<MemberIndex("Z_GetTXREF")>({fromTable, fromField, toTable, toField, xref});
}

extern "C" int32_t ZDB_CALL Z_GetFXREF(char* fromTable, char* fromField, char* toTable,
                                       char* toField, void* xref) {
  return Member<MemberIndex("Z_GetFXREF")>({fromTable, fromField, toTable, toField, xref});
}

extern "C" int32_t ZDB_CALL Z_DelXREF(const char* name) {
  return Member<MemberIndex("Z_DelXREF")>({name});
}

extern "C" int32_t ZDB_CALL Z_TBRefFrom(void* refs) {
  return Member<MemberIndex("Z_TBRefFrom")>({refs});
}

extern "C" int32_t ZDB_CALL Z_TBRefTo(void* refs) {
  return Member<MemberIndex("Z_TBRefTo")>({refs});
}

extern "C" int32_t ZDB_CALL Z_GetXRef(char* name, void* xref) {
  return Member<MemberIndex("Z_GetXRef")>({name, xref});
}

extern "C" int32_t ZDB_CALL Z_ValidUser(const char* user, const char* password,
                                        const char* reserved) {
  return Member<MemberIndex("Z_ValidUser")>({user, password, reserved});
}

extern "C" int32_t ZDB_CALL Z_ReadUser(char* user, char* reserved, void* info) {
  return Member<MemberIndex("Z_ReadUser")>({user, reserved, info});
}

extern "C" int32_t ZDB_CALL Z_AddUser(const char* user, const char* password, const char* role) {
  return Member<MemberIndex("Z_AddUser")>({user, password, role});
}

extern "C" int32_t ZDB_CALL Z_DelUser(const char* user, const char* reserved1,
                                      const char* reserved2) {
  return Member<MemberIndex("Z_DelUser")>({user, reserved1, reserved2});
}

extern "C" int32_t ZDB_CALL Z_UpdUser(const char* user, const char* password, const char* role,
                                      const char* reserved) {
  return Member<MemberIndex("Z_UpdUser")>({user, password, role, reserved});
}

extern "C" int32_t ZDB_CALL Z_NumUsers(char* reserved, int32_t* users, int32_t* admins) {
  return Member<MemberIndex("Z_NumUsers")>({reserved, users, admins});
}

extern "C" int32_t ZDB_CALL Z_GetUsers(char* reserved, int32_t count, char* users) {
  return Member<MemberIndex("Z_GetUsers")>({reserved, count, users});
}

extern "C" int32_t ZDB_CALL Z_CFUsers(const char* file) {
  return Member<MemberIndex("Z_CFUsers")>({file});
}

extern "C" int32_t ZDB_CALL Z_DFUsers(const char* file) {
  return Member<MemberIndex("Z_DFUsers")>({file});
}

extern "C" int32_t ZDB_CALL Z_Grant(const char* user, const char* database, const char* table,
                                    const char* reserved, int32_t privileges) {
  return Member<MemberIndex("Z_Grant")>({user, database, table, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_Revoke(const char* user, const char* database, const char* table,
                                     const char* reserved, int32_t privileges) {
  return Member<MemberIndex("Z_Revoke")>({user, database, table, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_IsAuthorizated(const char* user, const char* database,
                                             const char* table, const char* reserved,
                                             int32_t privileges) {
  return Member<MemberIndex("Z_IsAuthorizated")>({user, database, table, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_TBGrantAll(const char* database, const char* table,
                                         int32_t privileges) {
  return Member<MemberIndex("Z_TBGrantAll")>({database, table, privileges});
}

extern "C" int32_t ZDB_CALL Z_TBRevokeAll(const char* database, const char* table,
                                          int32_t privileges) {
  return Member<MemberIndex("Z_TBRevokeAll")>({database, table, privileges});
}

extern "C" int32_t ZDB_CALL Z_UsrGrantAll(const char* user, const char* database,
                                          const char* reserved, int32_t privileges) {
  return Member<MemberIndex("Z_UsrGrantAll")>({user, database, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_UsrRevokeAll(const char* user, const char* database,
                                           const char* reserved, int32_t privileges) {
  return Member<MemberIndex("Z_UsrRevokeAll")>({user, database, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_NumUsrPerTB(char* database, char* table, int32_t* holders,
                                          int32_t* users) {
  return Member<MemberIndex("Z_NumUsrPerTB")>({database, table, holders, users});
}

extern "C" int32_t ZDB_CALL Z_NumTBPerUser(char* user, char* database, char* reserved,
                                           int32_t* tables, int32_t* wholeDatabase) {
  return Member<MemberIndex("Z_NumTBPerUser")>({user, database, reserved, tables, wholeDatabase});
}

extern "C" int32_t ZDB_CALL Z_UsrPerTable(char* database, char* table, char* users, int32_t count) {
  return Member<MemberIndex("Z_UsrPerTable")>({database, table, users, count});
}

extern "C" int32_t ZDB_CALL Z_TablesPerUser(char* user, char* database, char* reserved,
                                            char* tables, int32_t count) {
  return Member<MemberIndex("Z_TablesPerUser")>({user, database, reserved, tables, count});
}

extern "C" int32_t ZDB_CALL Z_TBDeleteAll(const char* database, const char* table) {
  return Member<MemberIndex("Z_TBDeleteAll")>({database, table});
}

extern "C" int32_t ZDB_CALL Z_GetAccounts(void* accounts, int32_t count) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::GetAccounts(s, accounts, count); });
}

extern "C" int32_t ZDB_CALL Z_GetPrivileges(char* user, char* database, char* table, char* reserved,
                                            int32_t* privileges) {
  return Member<MemberIndex("Z_GetPrivileges")>({user, database, table, reserved, privileges});
}

extern "C" int32_t ZDB_CALL Z_Run(const char* user, const char* password, void* data,
                                  int32_t length, int32_t* counter) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::Run(s, user, password, data, length, counter); });
}

extern "C" int32_t ZDB_CALL Z_NoRun(void* data, int32_t length) {
  return zdb::api::WithSession([&](Session& s) { return catalog::NoRun(s, data, length); });
}

extern "C" int32_t ZDB_CALL Z_Internal(int32_t function, void* in, int32_t inLength, void* out,
                                       int32_t outLength) {
  return Member<MemberIndex("Z_Internal")>({function, in, inLength, out, outLength});
}

extern "C" int32_t ZDB_CALL Z_CurrentKey(void* key, int32_t length) {
  return Member<MemberIndex("Z_CurrentKey")>({key, length});
}

extern "C" int32_t ZDB_CALL Z_FsfToZdb(void* spec, int32_t mode, int32_t reserved, char* table) {
  return Member<MemberIndex("Z_FsfToZdb")>({spec, mode, reserved, table});
}

extern "C" int32_t ZDB_CALL Z_Create(const char* name, int32_t kind, int32_t flags) {
  return Member<MemberIndex("Z_Create")>({name, kind, flags});
}

extern "C" int32_t ZDB_CALL Z_Exist(char* name, char* kindText, int32_t* kind) {
  return Member<MemberIndex("Z_Exist")>({name, kindText, kind});
}

extern "C" int32_t ZDB_CALL Z_ExpCheck(const char* expression, const char* table) {
  return Member<MemberIndex("Z_ExpCheck")>({expression, table});
}

extern "C" int32_t ZDB_CALL Z_GetSelector(void* selector, void* databases) {
  return Member<MemberIndex("Z_GetSelector")>({selector, databases});
}

extern "C" int32_t ZDB_CALL Z_LastUpdate(char* name, char* date, char* time, void* flag) {
  return Member<MemberIndex("Z_LastUpdate")>({name, date, time, flag});
}
