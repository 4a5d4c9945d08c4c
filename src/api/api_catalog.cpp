// Exported entry points of the catalog family: each finds the calling thread's Session and runs
// the member's row of the catalog table, or the member's own steps where it has some.
#include <cstddef>
#include <initializer_list>

#include "api/guard.h"
#include "catalog/catalog_members.h"
#include "catalog/catalog_ops.h"
#include "session/request_table.h"
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

extern "C" int32_t ZDB_CALL Z_NewDB(const char* a1, const char* a2, const char* a3, int32_t a4,
                                    const char* a5) {
  return Member<MemberIndex("Z_NewDB")>({a1, a2, a3, a4, a5});
}

extern "C" int32_t ZDB_CALL Z_DelDB(void) {
  return Member<MemberIndex("Z_DelDB")>({});
}

extern "C" int32_t ZDB_CALL Z_NumDB(int32_t* n1, int32_t* n2) {
  return Member<MemberIndex("Z_NumDB")>({n1, n2});
}

extern "C" int32_t ZDB_CALL Z_DataBase(int32_t count, char* names) {
  return zdb::api::WithSession([&](Session& s) { return catalog::DataBase(s, count, names); });
}

extern "C" int32_t ZDB_CALL Z_GetDataBase(void* record) {
  return zdb::api::WithSession([&](Session& s) { return catalog::GetDataBase(s, record); });
}

extern "C" int32_t ZDB_CALL Z_CreTable(const char* a1, const char* a2, const char* a3,
                                       void* tableRecord) {
  return Member<MemberIndex("Z_CreTable")>({a1, a2, a3, tableRecord});
}

extern "C" int32_t ZDB_CALL Z_DbTables(int32_t count, char* names) {
  return zdb::api::WithSession([&](Session& s) { return catalog::DbTables(s, count, names); });
}

extern "C" int32_t ZDB_CALL Z_DelTable(const char* table, int32_t value) {
  return Member<MemberIndex("Z_DelTable")>({table, value});
}

extern "C" int32_t ZDB_CALL Z_GetPhysName(char* name) {
  return Member<MemberIndex("Z_GetPhysName")>({name});
}

extern "C" int32_t ZDB_CALL Z_GetFsf(void* fsf) {
  return Member<MemberIndex("Z_GetFsf")>({fsf});
}

extern "C" int32_t ZDB_CALL Z_GetTable(void* tableRecord) {
  return Member<MemberIndex("Z_GetTable")>({tableRecord});
}

extern "C" int32_t ZDB_CALL Z_NumTables(int32_t* n1, int32_t* n2) {
  return Member<MemberIndex("Z_NumTables")>({n1, n2});
}

extern "C" int32_t ZDB_CALL Z_RebTable(int32_t v1, int32_t v2) {
  return Member<MemberIndex("Z_RebTable")>({v1, v2});
}

extern "C" int32_t ZDB_CALL Z_UpdTable(void* tableRecord) {
  return Member<MemberIndex("Z_UpdTable")>({tableRecord});
}

extern "C" int32_t ZDB_CALL Z_GetIDTable(char* a1, char* a2, void* id) {
  return Member<MemberIndex("Z_GetIDTable")>({a1, a2, id});
}

extern "C" int32_t ZDB_CALL Z_Structure(char* name, void* structure, int32_t* n) {
  return Member<MemberIndex("Z_Structure")>({name, structure, n});
}

extern "C" int32_t ZDB_CALL Z_Rename(const char* from, const char* to) {
  return Member<MemberIndex("Z_Rename")>({from, to});
}

extern "C" int32_t ZDB_CALL Z_TableAlias(void* aliases, int32_t* n) {
  return Member<MemberIndex("Z_TableAlias")>({aliases, n});
}

extern "C" int32_t ZDB_CALL Z_AddField(const char* a1, const char* a2, void* descriptor) {
  return Member<MemberIndex("Z_AddField")>({a1, a2, descriptor});
}

extern "C" int32_t ZDB_CALL Z_DelField(const char* field) {
  return Member<MemberIndex("Z_DelField")>({field});
}

extern "C" int32_t ZDB_CALL Z_UpdField(const char* a1, const char* a2, void* descriptor) {
  return Member<MemberIndex("Z_UpdField")>({a1, a2, descriptor});
}

extern "C" int32_t ZDB_CALL Z_GetField(char* field, char* defaultValue, void* descriptor) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::GetField(s, field, defaultValue, descriptor); });
}

extern "C" int32_t ZDB_CALL Z_TableFields(int32_t* n, void* fields) {
  return Member<MemberIndex("Z_TableFields")>({n, fields});
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

extern "C" int32_t ZDB_CALL Z_AddIFields(const char* a1, const char* a2, int32_t value) {
  return Member<MemberIndex("Z_AddIFields")>({a1, a2, value});
}

extern "C" int32_t ZDB_CALL Z_DelIFields(const char* a1, const char* a2) {
  return Member<MemberIndex("Z_DelIFields")>({a1, a2});
}

extern "C" int32_t ZDB_CALL Z_UpdIFields(const char* a1, const char* a2, int32_t value) {
  return Member<MemberIndex("Z_UpdIFields")>({a1, a2, value});
}

extern "C" int32_t ZDB_CALL Z_IndexFields(char* index, int32_t* n, void* fields) {
  return Member<MemberIndex("Z_IndexFields")>({index, n, fields});
}

extern "C" int32_t ZDB_CALL Z_TableIndex(int32_t* n, void* indexes) {
  return Member<MemberIndex("Z_TableIndex")>({n, indexes});
}

extern "C" int32_t ZDB_CALL Z_GetIndex(char* index, void* indexRecord) {
  return Member<MemberIndex("Z_GetIndex")>({index, indexRecord});
}

extern "C" int32_t ZDB_CALL Z_AddConstrain(const char* a1, void* constraint) {
  return Member<MemberIndex("Z_AddConstrain")>({a1, constraint});
}

extern "C" int32_t ZDB_CALL Z_DelConstrain(const char* a1, int32_t value) {
  return Member<MemberIndex("Z_DelConstrain")>({a1, value});
}

extern "C" int32_t ZDB_CALL Z_UpdConstrain(const char* a1, void* constraint) {
  return Member<MemberIndex("Z_UpdConstrain")>({a1, constraint});
}

extern "C" int32_t ZDB_CALL Z_GetConstrain(char* a1, int32_t value16, void* constraint) {
  return Member<MemberIndex("Z_GetConstrain")>({a1, value16, constraint});
}

extern "C" int32_t ZDB_CALL Z_FieldConstrain(char* field, int32_t* n, void* constraints) {
  return Member<MemberIndex("Z_FieldConstrain")>({field, n, constraints});
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

extern "C" int32_t ZDB_CALL Z_AddFXREF(const char* a1, const char* a2, const char* a3,
                                       const char* a4, const char* a5, const char* a6,
                                       const char* a7) {
  return Member<MemberIndex("Z_AddFXREF")>({a1, a2, a3, a4, a5, a6, a7});
}

extern "C" int32_t ZDB_CALL Z_AddTXREF(const char* a1, const char* a2, const char* a3,
                                       const char* a4, const char* a5, const char* a6,
                                       const char* a7) {
  return Member<MemberIndex("Z_AddTXREF")>({a1, a2, a3, a4, a5, a6, a7});
}

extern "C" int32_t ZDB_CALL Z_DelFXREF(const char* a1, const char* a2, const char* a3,
                                       const char* a4) {
  return Member<MemberIndex("Z_DelFXREF")>({a1, a2, a3, a4});
}

extern "C" int32_t ZDB_CALL Z_DelTXREF(const char* a1, const char* a2, const char* a3,
                                       const char* a4) {
  return Member<MemberIndex("Z_DelTXREF")>({a1, a2, a3, a4});
}

extern "C" int32_t ZDB_CALL Z_XRefFromField(char* field, void* xrefs, int32_t* n) {
  return Member<MemberIndex("Z_XRefFromField")>({field, xrefs, n});
}

extern "C" int32_t ZDB_CALL Z_XRefToField(char* field, void* xrefs, int32_t* n) {
  return Member<MemberIndex("Z_XRefToField")>({field, xrefs, n});
}

extern "C" int32_t ZDB_CALL Z_GetTXREF(char* a1, char* a2, char* a3, char* a4, void* xref) {
  return Member<MemberIndex("Z_GetTXREF")>({a1, a2, a3, a4, xref});
}

extern "C" int32_t ZDB_CALL Z_GetFXREF(char* a1, char* a2, char* a3, char* a4, void* xref) {
  return Member<MemberIndex("Z_GetFXREF")>({a1, a2, a3, a4, xref});
}

extern "C" int32_t ZDB_CALL Z_DelXREF(const char* a1) {
  return Member<MemberIndex("Z_DelXREF")>({a1});
}

extern "C" int32_t ZDB_CALL Z_TBRefFrom(void* refs) {
  return Member<MemberIndex("Z_TBRefFrom")>({refs});
}

extern "C" int32_t ZDB_CALL Z_TBRefTo(void* refs) {
  return Member<MemberIndex("Z_TBRefTo")>({refs});
}

extern "C" int32_t ZDB_CALL Z_GetXRef(char* a1, void* xref) {
  return Member<MemberIndex("Z_GetXRef")>({a1, xref});
}

extern "C" int32_t ZDB_CALL Z_ValidUser(const char* a1, const char* a2, const char* a3) {
  return Member<MemberIndex("Z_ValidUser")>({a1, a2, a3});
}

extern "C" int32_t ZDB_CALL Z_ReadUser(char* a1, char* a2, void* user) {
  return Member<MemberIndex("Z_ReadUser")>({a1, a2, user});
}

extern "C" int32_t ZDB_CALL Z_AddUser(const char* a1, const char* a2, const char* a3) {
  return Member<MemberIndex("Z_AddUser")>({a1, a2, a3});
}

extern "C" int32_t ZDB_CALL Z_DelUser(const char* a1, const char* a2, const char* a3) {
  return Member<MemberIndex("Z_DelUser")>({a1, a2, a3});
}

extern "C" int32_t ZDB_CALL Z_UpdUser(const char* a1, const char* a2, const char* a3,
                                      const char* a4) {
  return Member<MemberIndex("Z_UpdUser")>({a1, a2, a3, a4});
}

extern "C" int32_t ZDB_CALL Z_NumUsers(char* a1, int32_t* n1, int32_t* n2) {
  return Member<MemberIndex("Z_NumUsers")>({a1, n1, n2});
}

extern "C" int32_t ZDB_CALL Z_GetUsers(char* a1, int32_t count, char* users) {
  return Member<MemberIndex("Z_GetUsers")>({a1, count, users});
}

extern "C" int32_t ZDB_CALL Z_CFUsers(const char* a1) {
  return Member<MemberIndex("Z_CFUsers")>({a1});
}

extern "C" int32_t ZDB_CALL Z_DFUsers(const char* a1) {
  return Member<MemberIndex("Z_DFUsers")>({a1});
}

extern "C" int32_t ZDB_CALL Z_Grant(const char* a1, const char* a2, const char* a3, const char* a4,
                                    int32_t privileges) {
  return Member<MemberIndex("Z_Grant")>({a1, a2, a3, a4, privileges});
}

extern "C" int32_t ZDB_CALL Z_Revoke(const char* a1, const char* a2, const char* a3, const char* a4,
                                     int32_t privileges) {
  return Member<MemberIndex("Z_Revoke")>({a1, a2, a3, a4, privileges});
}

extern "C" int32_t ZDB_CALL Z_IsAuthorizated(const char* a1, const char* a2, const char* a3,
                                             const char* a4, int32_t privileges) {
  return Member<MemberIndex("Z_IsAuthorizated")>({a1, a2, a3, a4, privileges});
}

extern "C" int32_t ZDB_CALL Z_TBGrantAll(const char* a1, const char* a2, int32_t privileges) {
  return Member<MemberIndex("Z_TBGrantAll")>({a1, a2, privileges});
}

extern "C" int32_t ZDB_CALL Z_TBRevokeAll(const char* a1, const char* a2, int32_t privileges) {
  return Member<MemberIndex("Z_TBRevokeAll")>({a1, a2, privileges});
}

extern "C" int32_t ZDB_CALL Z_UsrGrantAll(const char* a1, const char* a2, const char* a3,
                                          int32_t privileges) {
  return Member<MemberIndex("Z_UsrGrantAll")>({a1, a2, a3, privileges});
}

extern "C" int32_t ZDB_CALL Z_UsrRevokeAll(const char* a1, const char* a2, const char* a3,
                                           int32_t privileges) {
  return Member<MemberIndex("Z_UsrRevokeAll")>({a1, a2, a3, privileges});
}

extern "C" int32_t ZDB_CALL Z_NumUsrPerTB(char* a1, char* a2, int32_t* n1, int32_t* n2) {
  return Member<MemberIndex("Z_NumUsrPerTB")>({a1, a2, n1, n2});
}

extern "C" int32_t ZDB_CALL Z_NumTBPerUser(char* a1, char* a2, char* a3, int32_t* n1, int32_t* n2) {
  return Member<MemberIndex("Z_NumTBPerUser")>({a1, a2, a3, n1, n2});
}

extern "C" int32_t ZDB_CALL Z_UsrPerTable(char* a1, char* a2, char* users, int32_t count) {
  return Member<MemberIndex("Z_UsrPerTable")>({a1, a2, users, count});
}

extern "C" int32_t ZDB_CALL Z_TablesPerUser(char* a1, char* a2, char* a3, char* tables,
                                            int32_t count) {
  return Member<MemberIndex("Z_TablesPerUser")>({a1, a2, a3, tables, count});
}

extern "C" int32_t ZDB_CALL Z_TBDeleteAll(const char* a1, const char* a2) {
  return Member<MemberIndex("Z_TBDeleteAll")>({a1, a2});
}

extern "C" int32_t ZDB_CALL Z_GetAccounts(void* accounts, int32_t count) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::GetAccounts(s, accounts, count); });
}

extern "C" int32_t ZDB_CALL Z_GetPrivileges(char* a1, char* a2, char* a3, char* a4,
                                            int32_t* privileges) {
  return Member<MemberIndex("Z_GetPrivileges")>({a1, a2, a3, a4, privileges});
}

extern "C" int32_t ZDB_CALL Z_Run(const char* user, const char* password, void* data,
                                  int32_t length, int32_t* counter) {
  return zdb::api::WithSession(
      [&](Session& s) { return catalog::Run(s, user, password, data, length, counter); });
}

extern "C" int32_t ZDB_CALL Z_NoRun(void* data, int32_t length) {
  return zdb::api::WithSession([&](Session& s) { return catalog::NoRun(s, data, length); });
}

extern "C" int32_t ZDB_CALL Z_Internal(int32_t value, void* in, int32_t inLength, void* out,
                                       int32_t outLength) {
  return Member<MemberIndex("Z_Internal")>({value, in, inLength, out, outLength});
}

extern "C" int32_t ZDB_CALL Z_CurrentKey(void* key, int32_t length) {
  return Member<MemberIndex("Z_CurrentKey")>({key, length});
}

extern "C" int32_t ZDB_CALL Z_FsfToZdb(void* fsf, int32_t v1, int32_t v2, char* a4) {
  return Member<MemberIndex("Z_FsfToZdb")>({fsf, v1, v2, a4});
}

extern "C" int32_t ZDB_CALL Z_Create(const char* a1, int32_t v1, int32_t v2) {
  return Member<MemberIndex("Z_Create")>({a1, v1, v2});
}

extern "C" int32_t ZDB_CALL Z_Exist(char* a1, char* name, int32_t* n) {
  return Member<MemberIndex("Z_Exist")>({a1, name, n});
}

extern "C" int32_t ZDB_CALL Z_ExpCheck(const char* a1, const char* a2) {
  return Member<MemberIndex("Z_ExpCheck")>({a1, a2});
}

extern "C" int32_t ZDB_CALL Z_GetSelector(void* selector, void* value) {
  return Member<MemberIndex("Z_GetSelector")>({selector, value});
}

extern "C" int32_t ZDB_CALL Z_LastUpdate(char* a1, char* date, char* time, void* flag) {
  return Member<MemberIndex("Z_LastUpdate")>({a1, date, time, flag});
}
