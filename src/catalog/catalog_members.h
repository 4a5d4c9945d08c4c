// Every request of the catalog family in one table: request kind and flags, opcode, parameter
// count and how each argument becomes a slot. Arguments are numbered from 0 here. Members whose
// steps go beyond "prepare, fill the slots, exchange" still take their layout from their row;
// their extra steps live in the small files next to this one.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "session/request_table.h"
#include "wire/frame.h"
#include "wire/record_sizes.h"

namespace zdb::catalog {

inline constexpr uint16_t kGet = wire::kPlain;          // full reply: the slots come back
inline constexpr uint16_t kChange = wire::kStatusOnly;  // only a status comes back
inline constexpr uint16_t kExport = wire::kExportKind;  // a file comes back, then a status
inline constexpr uint16_t kImport = wire::kImportKind;  // a file goes out and one comes back

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
    RequestSpec{"Z_NewDB", kChange, 86, 5, {Text(0), Text(1), Text(2), Value16(3), Text(4)}},
    RequestSpec{"Z_DelDB", kChange, 85, 0, {}},
    RequestSpec{"Z_NumDB", kGet, 87, 2, {Counter(0), Counter(1)}},
    RequestSpec{"Z_DataBase", kGet, 83, 2, {Value(0), Sized(1, kDatabaseName, 0)}},
    RequestSpec{"Z_GetDataBase", kGet, 84, 1, {Fixed(0, kDatabaseRecord)}},
    RequestSpec{"Z_ExportDB", kExport, 88, 3, {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_ImportDB", kImport, 89, 4, {Text(0), Text(1), Text(2), Text(3)}},
    // ---- tables ----
    RequestSpec{"Z_CreTable", kChange, 70, 4, {Text(0), Text(1), Text(2), Fixed(3, kTableRecord)}},
    RequestSpec{"Z_DbTables", kGet, 71, 2, {Value(0), Sized(1, kTableName, 0)}},
    RequestSpec{"Z_DelTable", kChange, 72, 2, {Text(0), Value(1)}},
    RequestSpec{"Z_GetPhysName", kGet, 73, 1, {Fixed(0, 256)}},
    RequestSpec{"Z_GetFsf", kGet, 74, 1, {Fixed(0, 2)}},
    RequestSpec{"Z_GetTable", kGet, 75, 1, {Fixed(0, kTableRecord)}},
    RequestSpec{"Z_NumTables", kGet, 76, 2, {Counter(0), Counter(1)}},
    RequestSpec{"Z_RebTable", kChange, 77, 2, {Value(0), Value(1)}},
    RequestSpec{"Z_UpdTable", kChange, 78, 1, {Fixed(0, kTableRecord)}},
    RequestSpec{"Z_GetIDTable", kGet, 79, 3, {Text(0), Text(1), Fixed(2, 7)}},
    // The name travels as its whole 64-byte buffer, whatever its text length.
    RequestSpec{"Z_Structure", kGet, 80, 3, {Fixed(0, 64), Fixed(1, 1500), Counter(2)}},
    RequestSpec{"Z_Rename", kChange, 81, 2, {Text(0), Text(1)}},
    RequestSpec{"Z_TableAlias", kGet, 90, 2, {Fixed(0, 3300), Counter(1)}},
    // ---- fields ----
    RequestSpec{"Z_AddField", kChange, 55, 3, {Text(0), Text(1), Fixed(2, kFieldDescriptor)}},
    RequestSpec{"Z_DelField", kChange, 56, 1, {Text(0)}},
    RequestSpec{"Z_UpdField", kChange, 57, 3, {Text(0), Text(1), Fixed(2, kFieldDescriptor)}},
    // Without a second buffer slot 1 is the one byte "*" (field_descriptor.cpp).
    RequestSpec{"Z_GetField", kGet, 58, 3,
                {Text(0), Fixed(1, kValueText), Fixed(2, kFieldDescriptor)}},
    RequestSpec{"Z_TableFields", kGet, 59, 2, {Counter(0), Fixed(1, 9900)}},
    RequestSpec{"Z_GFields", kGet, 60, 2, {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_PFields", kChange, 61, 2, {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_CanBeDelete", kChange, 62, 1, {Text(0)}},
    RequestSpec{"Z_InfoFields", kGet, 63, 2, {Text(0), Fixed(1, wire::kFieldDefListSize)}},
    // ---- indexes ----
    RequestSpec{"Z_AddIFields", kChange, 64, 3, {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_DelIFields", kChange, 65, 2, {Text(0), Text(1)}},
    RequestSpec{"Z_UpdIFields", kChange, 66, 3, {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_IndexFields", kGet, 67, 3, {Text(0), Counter(1), Fixed(2, 3900)}},
    RequestSpec{"Z_TableIndex", kGet, 68, 2, {Counter(0), Fixed(1, 3600)}},
    RequestSpec{"Z_GetIndex", kGet, 69, 2, {Text(0), Fixed(1, 36)}},
    // ---- constraints and default values ----
    RequestSpec{"Z_AddConstrain", kChange, 42, 2, {Text(0), Fixed(1, kConstraintRecord)}},
    RequestSpec{"Z_DelConstrain", kChange, 43, 2, {Text(0), Value(1)}},
    RequestSpec{"Z_UpdConstrain", kChange, 44, 2, {Text(0), Fixed(1, kConstraintRecord)}},
    RequestSpec{"Z_GetConstrain", kGet, 45, 3,
                {Text(0), Value16(1), Fixed(2, kConstraintRecord)}},
    RequestSpec{"Z_FieldConstrain", kGet, 46, 3, {Text(0), Counter(1), Fixed(2, 250)}},
    RequestSpec{"Z_PutDefaultValue", kChange, 129, 2, {Text(0), Text(1)}},
    RequestSpec{"Z_GetDefaultValue", kGet, 130, 2, {Text(0), Fixed(1, kValueText)}},
    RequestSpec{"Z_DelDefaultValue", kChange, 131, 1, {Text(0)}},
    // ---- cross references ----
    RequestSpec{"Z_AddFXREF", kChange, 47, 7,
                {Text(0), Text(1), Text(2), Text(3), Text(4), Text(5), Text(6)}},
    RequestSpec{"Z_AddTXREF", kChange, 48, 7,
                {Text(0), Text(1), Text(2), Text(3), Text(4), Text(5), Text(6)}},
    RequestSpec{"Z_DelFXREF", kChange, 49, 4, {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_DelTXREF", kChange, 50, 4, {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_XRefFromField", kGet, 51, 3, {Text(0), Fixed(1, 29700), Counter(2)}},
    RequestSpec{"Z_XRefToField", kGet, 52, 3, {Text(0), Fixed(1, 29700), Counter(2)}},
    RequestSpec{"Z_GetTXREF", kGet, 53, 5,
                {Text(0), Text(1), Text(2), Text(3), Fixed(4, kXrefRecord)}},
    RequestSpec{"Z_GetFXREF", kGet, 54, 5,
                {Text(0), Text(1), Text(2), Text(3), Fixed(4, kXrefRecord)}},
    RequestSpec{"Z_DelXREF", kChange, 125, 1, {Text(0)}},
    RequestSpec{"Z_TBRefFrom", kGet, 126, 1, {Fixed(0, 3304)}},
    RequestSpec{"Z_TBRefTo", kGet, 127, 1, {Fixed(0, 3304)}},
    RequestSpec{"Z_GetXRef", kGet, 128, 2, {Text(0), Fixed(1, 671)}},
    // ---- users and privileges ----
    RequestSpec{"Z_ValidUser", kGet, 94, 3, {ServerText(0), ServerText(1), ServerText(2)}},
    RequestSpec{"Z_ReadUser", kGet, 95, 3, {Text(0), Text(1), Fixed(2, 10000)}},
    RequestSpec{"Z_AddUser", kChange, 96, 3, {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_DelUser", kChange, 97, 3, {Text(0), Text(1), Text(2)}},
    RequestSpec{"Z_UpdUser", kChange, 98, 4, {Text(0), Text(1), Text(2), Text(3)}},
    RequestSpec{"Z_NumUsers", kGet, 99, 3, {Text(0), Counter(1), Counter(2)}},
    RequestSpec{"Z_GetUsers", kGet, 100, 3, {Text(0), Value(1), Sized(2, kUserEntry, 1)}},
    RequestSpec{"Z_CFUsers", kChange, 101, 1, {Text(0)}},
    RequestSpec{"Z_DFUsers", kChange, 102, 1, {Text(0)}},
    RequestSpec{"Z_Grant", kChange, 103, 5, {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    RequestSpec{"Z_Revoke", kChange, 104, 5, {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    // The answer is the status itself.
    RequestSpec{"Z_IsAuthorizated", kChange, 105, 5,
                {Text(0), Text(1), Text(2), Text(3), Value(4)}},
    RequestSpec{"Z_TBGrantAll", kChange, 106, 3, {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_TBRevokeAll", kChange, 107, 3, {Text(0), Text(1), Value(2)}},
    RequestSpec{"Z_UsrGrantAll", kChange, 108, 4, {Text(0), Text(1), Text(2), Value(3)}},
    RequestSpec{"Z_UsrRevokeAll", kChange, 109, 4, {Text(0), Text(1), Text(2), Value(3)}},
    RequestSpec{"Z_NumUsrPerTB", kGet, 110, 4, {Text(0), Text(1), Counter(2), Counter(3)}},
    RequestSpec{"Z_NumTBPerUser", kGet, 111, 5,
                {Text(0), Text(1), Text(2), Counter(3), Counter(4)}},
    RequestSpec{"Z_UsrPerTable", kGet, 112, 4,
                {Text(0), Text(1), Sized(2, kUserEntry, 3), Value(3)}},
    RequestSpec{"Z_TablesPerUser", kGet, 113, 5,
                {Text(0), Text(1), Text(2), Sized(3, kTableName, 4), Value(4)}},
    RequestSpec{"Z_TBDeleteAll", kChange, 114, 2, {Text(0), Text(1)}},
    RequestSpec{"Z_GetAccounts", kGet, 116, 2, {Sized(0, kAccountEntry, 1), Value(1)}},
    RequestSpec{"Z_GetPrivileges", kGet, 137, 5,
                {Text(0), Text(1), Text(2), Text(3), Counter(4)}},
    // ---- other requests ----
    // The run login and its end: the login's own steps surround these layouts (run_session.cpp).
    RequestSpec{"Z_Run", kGet, 0, 4, {ServerText(0), ServerText(1), Sized(2, 1, 3), Counter(4)}},
    RequestSpec{"Z_NoRun", kGet, 1, 1, {Sized(0, 1, 1)}},
    // Five arguments, three slots: the two lengths size their buffers and are not sent.
    RequestSpec{"Z_Internal", kGet, 34, 3, {Value(0), Sized(1, 1, 2), Sized(3, 1, 4)}},
    RequestSpec{"Z_CurrentKey", kGet, 35, 2, {Sized(0, 1, 1), Value(1)}},
    RequestSpec{"Z_FsfToZdb", kGet, 82, 4, {Fixed(0, 1500), Value(1), Value(2), Text(3)}},
    RequestSpec{"Z_Create", kChange, 91, 3, {Text(0), Value(1), Value(2)}},
    // Both results are optional: a null one travels as zeros and its reply bytes are dropped.
    RequestSpec{"Z_Exist", kGet, 92, 3, {Text(0), Fixed(1, 64), Counter(2)}},
    RequestSpec{"Z_ExpCheck", kChange, 93, 2, {Text(0), Text(1)}},
    RequestSpec{"Z_GetError", kGet, 120, 2, {Value(0), Fixed(1, kErrorText)}},
    RequestSpec{"Z_GetSelector", kGet, 121, 2, {Fixed(0, 508), Fixed(1, 2)}},
    RequestSpec{"Z_LastUpdate", kGet, 132, 4, {Text(0), Fixed(1, 11), Fixed(2, 9), Fixed(3, 2)}},
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
