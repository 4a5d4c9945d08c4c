// Every request of the catalog family in one table: the protocol operation it sends and how
// each argument becomes a slot. Arguments are numbered from 0 here. Members whose
// steps go beyond "prepare, fill the slots, exchange" still take their layout from their row;
// their extra steps live in the small files next to this one.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "requests/request_table.h"
#include "wire/frame.h"
#include "wire/record_sizes.h"

namespace zdb::catalog {

// Widths of the records and list entries the server defines; the library passes them through.
inline constexpr uint32_t kDatabaseRecord = wire::kDatabaseRecordSize;
inline constexpr uint32_t kDatabaseName = wire::kDbKeySize;
inline constexpr uint32_t kTableName = wire::kNameKeySize;
inline constexpr uint32_t kUserEntry = wire::kUserEntrySize;
inline constexpr uint32_t kAccountEntry = wire::kAccountEntrySize;
inline constexpr uint32_t kTableRecord = wire::kTableRecordSize;
inline constexpr uint32_t kFieldDescriptor = wire::kFieldDescriptorSize;
inline constexpr uint32_t kConstraintRecord = wire::kConstraintRecordSize;
inline constexpr uint32_t kXrefRecord = wire::kXrefRecordSize;
inline constexpr uint32_t kValueText = wire::kValueTextSize;
inline constexpr uint32_t kErrorText = wire::kErrorTextSize;

// clang-format off
inline constexpr std::array kMembers{
    // ---- databases ----
    RequestSpec{"Z_NewDB", wire::Op("NewDB"), {Text(0), Text(1), Text(2), Value16(3), Text(4)}},
    RequestSpec{"Z_DelDB", wire::Op("DelDB"), {}},
    RequestSpec{"Z_NumDB", wire::Op("NumDB"), {Counter(0), Counter(1)}},
    RequestSpec{"Z_DataBase", wire::Op("DataBase"), {Value(0), Sized(1, kDatabaseName, 0)}},
    RequestSpec{"Z_GetDataBase", wire::Op("GetDataBase"), {Fixed(0, kDatabaseRecord)}},
    RequestSpec{"Z_ExportDB", wire::Op("ExportDB"), {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_ImportDB", wire::Op("ImportDB"), {Text(0), Text(1), Text(2), Text(3)}},
    // ---- tables ----
    RequestSpec{"Z_CreTable", wire::Op("CreTable"), {Text(0), Text(1), Text(2), Fixed(3, kTableRecord)}},
    RequestSpec{"Z_DbTables", wire::Op("DbTables"), {Value(0), Sized(1, kTableName, 0)}},
    RequestSpec{"Z_DelTable", wire::Op("DelTable"), {Text(0), Value(1)}},
    RequestSpec{"Z_GetPhysName", wire::Op("GetPhysName"), {Fixed(0, 256)}},
    RequestSpec{"Z_GetFsf", wire::Op("GetFsf"), {Fixed(0, 2)}},
    RequestSpec{"Z_GetTable", wire::Op("GetTable record"), {Fixed(0, kTableRecord)}},
    RequestSpec{"Z_NumTables", wire::Op("NumTables"), {Counter(0), Counter(1)}},
    RequestSpec{"Z_RebTable", wire::Op("RebTable"), {Value(0), Value(1)}},
    RequestSpec{"Z_UpdTable", wire::Op("UpdTable"), {Fixed(0, kTableRecord)}},
    RequestSpec{"Z_GetIDTable", wire::Op("GetIDTable"), {Text(0), Text(1), Fixed(2, 7)}},
    // The name travels as its whole 64-byte buffer, whatever its text length.
    RequestSpec{"Z_Structure", wire::Op("Structure"), {Fixed(0, 64), Fixed(1, 1500), Counter(2)}},
    RequestSpec{"Z_Rename", wire::Op("Rename"), {Text(0), Text(1)}},
    RequestSpec{"Z_TableAlias", wire::Op("TableAlias"), {Fixed(0, 3300), Counter(1)}},
    // ---- fields ----
    RequestSpec{"Z_AddField", wire::Op("AddField"), {Text(0), Text(1), Fixed(2, kFieldDescriptor)}},
    RequestSpec{"Z_DelField", wire::Op("DelField"), {Text(0)}},
    RequestSpec{"Z_UpdField", wire::Op("UpdField"), {Text(0), Text(1), Fixed(2, kFieldDescriptor)}},
    RequestSpec{"Z_TableFields", wire::Op("TableFields"), {Counter(0), Fixed(1, 9900)}},
    RequestSpec{"Z_GFields", wire::Op("GFields"), {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_PFields", wire::Op("PFields"), {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_CanBeDelete", wire::Op("CanBeDelete"), {Text(0)}},
    // ---- indexes ----
    RequestSpec{"Z_AddIFields", wire::Op("AddIFields"), {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_DelIFields", wire::Op("DelIFields"), {Text(0), Text(1)}},
    RequestSpec{"Z_UpdIFields", wire::Op("UpdIFields"), {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_IndexFields", wire::Op("IndexFields"), {Text(0), Counter(1), Fixed(2, 3900)}},
    RequestSpec{"Z_TableIndex", wire::Op("TableIndex"), {Counter(0), Fixed(1, 3600)}},
    RequestSpec{"Z_GetIndex", wire::Op("GetIndex"), {Text(0), Fixed(1, 36)}},
    // ---- constraints and default values ----
    RequestSpec{"Z_AddConstrain", wire::Op("AddConstrain"), {Text(0), Fixed(1, kConstraintRecord)}},
    RequestSpec{"Z_DelConstrain", wire::Op("DelConstrain"), {Text(0), Value(1)}},
    RequestSpec{"Z_UpdConstrain", wire::Op("UpdConstrain"), {Text(0), Fixed(1, kConstraintRecord)}},
    RequestSpec{"Z_GetConstrain", wire::Op("GetConstrain"), {Text(0), Value16(1), Fixed(2, kConstraintRecord)}},
    RequestSpec{"Z_FieldConstrain", wire::Op("FieldConstrain"), {Text(0), Counter(1), Fixed(2, 250)}},
    RequestSpec{"Z_PutDefaultValue", wire::Op("PutDefaultValue"), {Text(0), Text(1)}},
    RequestSpec{"Z_GetDefaultValue", wire::Op("GetDefaultValue"), {Text(0), Fixed(1, kValueText)}},
    RequestSpec{"Z_DelDefaultValue", wire::Op("DelDefaultValue"), {Text(0)}},
    // ---- cross references ----
    RequestSpec{"Z_AddFXREF", wire::Op("AddFXREF"), {Text(0), Text(1), Text(2), Text(3), Text(4), Text(5), Text(6)}},
    RequestSpec{"Z_AddTXREF", wire::Op("AddTXREF"), {Text(0), Text(1), Text(2), Text(3), Text(4), Text(5), Text(6)}},
    RequestSpec{"Z_DelFXREF", wire::Op("DelFXREF"), {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_DelTXREF", wire::Op("DelTXREF"), {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_XRefFromField", wire::Op("XRefFromField"), {Text(0), Fixed(1, 29700), Counter(2)}},
    RequestSpec{"Z_XRefToField", wire::Op("XRefToField"), {Text(0), Fixed(1, 29700), Counter(2)}},
    RequestSpec{"Z_GetTXREF", wire::Op("GetTXREF"), {Text(0), Text(1), Text(2), Text(3), Fixed(4, kXrefRecord)}},
    RequestSpec{"Z_GetFXREF", wire::Op("GetFXREF"), {Text(0), Text(1), Text(2), Text(3), Fixed(4, kXrefRecord)}},
    RequestSpec{"Z_DelXREF", wire::Op("DelXREF"), {Text(0)}},
    RequestSpec{"Z_TBRefFrom", wire::Op("TBRefFrom"), {Fixed(0, 3304)}},
    RequestSpec{"Z_TBRefTo", wire::Op("TBRefTo"), {Fixed(0, 3304)}},
    RequestSpec{"Z_GetXRef", wire::Op("GetXRef"), {Text(0), Fixed(1, 671)}},
    // ---- users and privileges ----
    RequestSpec{"Z_ValidUser", wire::Op("ValidUser"), {ServerText(0), ServerText(1), ServerText(2)}},
    RequestSpec{"Z_ReadUser", wire::Op("ReadUser"), {Text(0), Text(1), Fixed(2, 10000)}},
    RequestSpec{"Z_AddUser", wire::Op("AddUser"), {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_DelUser", wire::Op("DelUser"), {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_UpdUser", wire::Op("UpdUser"), {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_NumUsers", wire::Op("NumUsers"), {Text(0), Counter(1), Counter(2)}},
    RequestSpec{"Z_GetUsers", wire::Op("GetUsers"), {Text(0), Value(1), Sized(2, kUserEntry, 1)}},
    RequestSpec{"Z_CFUsers", wire::Op("CFUsers"), {Text(0)}},
    RequestSpec{"Z_DFUsers", wire::Op("DFUsers"), {Text(0)}},
    RequestSpec{"Z_Grant", wire::Op("Grant"), {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    RequestSpec{"Z_Revoke", wire::Op("Revoke"), {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    // The answer is the status itself.
    RequestSpec{"Z_IsAuthorizated", wire::Op("IsAuthorizated"), {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    RequestSpec{"Z_TBGrantAll", wire::Op("TBGrantAll"), {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_TBRevokeAll", wire::Op("TBRevokeAll"), {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_UsrGrantAll", wire::Op("UsrGrantAll"), {Text(0), Text(1), Text(2), Value(3)}},
    RequestSpec{"Z_UsrRevokeAll", wire::Op("UsrRevokeAll"), {Text(0), Text(1), Text(2), Value(3)}},
    RequestSpec{"Z_NumUsrPerTB", wire::Op("NumUsrPerTB"), {Text(0), Text(1), Counter(2), Counter(3)}},
    RequestSpec{"Z_NumTBPerUser", wire::Op("NumTBPerUser"), {Text(0), Text(1), Text(2), Counter(3), Counter(4)}},
    RequestSpec{"Z_UsrPerTable", wire::Op("UsrPerTable"), {Text(0), Text(1), Sized(2, kUserEntry, 3), Value(3)}},
    RequestSpec{"Z_TablesPerUser", wire::Op("TablesPerUser"), {Text(0), Text(1), Text(2), Sized(3, kTableName, 4), Value(4)}},
    RequestSpec{"Z_TBDeleteAll", wire::Op("TBDeleteAll"), {Text(0), Text(1)}},
    RequestSpec{"Z_GetAccounts", wire::Op("GetAccounts"), {Sized(0, kAccountEntry, 1), Value(1)}},
    RequestSpec{"Z_GetPrivileges", wire::Op("GetPrivileges"), {Text(0), Text(1), Text(2), Text(3), Counter(4)}},
    // ---- other requests ----
    // The run login and its end: the login's own steps surround these layouts (run_session.cpp).
    RequestSpec{"Z_Run", wire::Op("Login"), {ServerText(0), ServerText(1), Sized(2, 1, 3), Counter(4)}},
    RequestSpec{"Z_NoRun", wire::Op("Logout"), {Sized(0, 1, 1)}},
    // Five arguments, three slots: the two lengths size their buffers and are not sent.
    RequestSpec{"Z_Internal", wire::Op("Internal"), {Value(0), Sized(1, 1, 2), Sized(3, 1, 4)}},
    RequestSpec{"Z_CurrentKey", wire::Op("CurrentKey"), {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_FsfToZdb", wire::Op("FsfToZdb"), {Fixed(0, 1500), Value(1), Value(2), Text(3)}},
    RequestSpec{"Z_Create", wire::Op("Create"), {Text(0), Value(1), Value(2)}},
    // Both results are optional: a null one travels as zeros and its reply bytes are dropped.
    RequestSpec{"Z_Exist", wire::Op("Exist"), {Text(0), Fixed(1, 64), Counter(2)}},
    RequestSpec{"Z_ExpCheck", wire::Op("ExpCheck"), {Text(0), Text(1)}},
    RequestSpec{"Z_GetSelector", wire::Op("GetSelector"), {Fixed(0, 508), Fixed(1, 2)}},
    RequestSpec{"Z_LastUpdate", wire::Op("LastUpdate"), {Text(0), Fixed(1, 11), Fixed(2, 9), Fixed(3, 2)}},
};
// clang-format on

// The row of a member, found while compiling: a misspelt name does not build.
consteval size_t MemberIndex(std::string_view name) {
  for (size_t i = 0; i < kMembers.size(); ++i)
    if (std::string_view(kMembers[i].name) == name) return i;
  throw "not a catalog member";
}

template <size_t I>
inline constexpr const RequestSpec& kMember = kMembers[I];

}  // namespace zdb::catalog
