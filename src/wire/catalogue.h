// Every operation of the protocol in one table: its name, its request kind with the flags that
// say how the reply comes back, its opcode and the shape of its slots. The library's request
// rows, zdbd's dispatch table, the tracer and the tests name operations here and take their
// numbers from this table; no other file spells an opcode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "wire/frame.h"

namespace zdb::wire {

// One slot as the slot shape describes it.
struct SlotShape {
  char type = 0;       // 'T' text, 'P' a password text, '*' any length, '#' exactly `bytes`
  uint32_t bytes = 0;  // '#': the slot's length
};

struct Operation {
  std::string_view name;
  // The request kind in the low byte; the high byte says what comes back: a status word alone
  // (kFlagStatusOnly), a file or records before it (kFlagReceiveFile, kFlagReceiveRecords),
  // and whether a file follows the request (kFlagSendFile). Without kFlagStatusOnly the reply
  // is a whole frame whose slots have the request's shape.
  uint16_t kindFlags;
  uint32_t opcode;
  // One token per slot, separated by spaces: T a text (at least one byte), P a text holding a
  // password, * any length, a number: exactly that many bytes. A leading '>' means "at least
  // these slots".
  std::string_view slots;

  constexpr uint8_t Kind() const { return static_cast<uint8_t>(kindFlags & 0xFF); }
  constexpr bool StatusOnly() const { return (kindFlags & kFlagStatusOnly) != 0; }
  // True when the request may carry slots beyond those the shape names.
  constexpr bool OpenEnded() const { return !slots.empty() && slots[0] == '>'; }

  // The number of slots the shape names.
  constexpr int SlotCount() const {
    int count = 0;
    for (size_t i = 0; i < slots.size(); ++i)
      if (slots[i] != ' ' && slots[i] != '>' &&
          (i == 0 || slots[i - 1] == ' ' || slots[i - 1] == '>'))
        ++count;
    return count;
  }

  // The shape of slot i; type 0 beyond the named slots.
  constexpr SlotShape Slot(int i) const {
    size_t p = OpenEnded() ? 1 : 0;
    for (;;) {
      while (p < slots.size() && slots[p] == ' ') ++p;
      if (p == slots.size()) return {};
      size_t end = p;
      while (end < slots.size() && slots[end] != ' ') ++end;
      if (i-- == 0) {
        const char c = slots[p];
        if (c == 'T' || c == 'P' || c == '*') return {c, 0};
        uint32_t n = 0;
        for (size_t k = p; k < end; ++k) n = n * 10 + static_cast<uint32_t>(slots[k] - '0');
        return {'#', n};
      }
      p = end;
    }
  }
};

// clang-format off
inline constexpr Operation kOperations[] = {
    {"Login", kPlain, 0, ">T P"},
    {"Logout", kPlain, 1, ">"},
    {"GetVersion", kPlain, 2, "4"},
    {"GetError", kPlain, 120, "4 129"},
    // databases and tables in use
    {"UseDB", kStatusOnly, 3, "T"},
    {"UnUseDB", kStatusOnly, 4, "T"},
    {"SelDB", kStatusOnly, 5, "T"},
    {"GetDB", kPlain, 6, "9"},
    {"OpenTable", kStatusOnly, 10, "T T T"},
    {"CloseTable", kStatusOnly, 11, "T"},
    {"SelTable", kStatusOnly, 12, "T T"},
    {"GetTable", kPlain, 13, "33"},
    // records, locks, transactions, maintenance
    {"DBLock", kStatusOnly, 7, "T"},
    {"DBUnLock", kStatusOnly, 8, "T"},
    {"DBIsLock", kStatusOnly, 9, "T"},
    {"LockTable", kStatusOnly, 16, "T"},
    {"Seek", kStatusOnly, 22, "T T"},
    {"Read", kStatusOnly, 23, "T T"},
    {"AppendBlank", kStatusOnly, 24, ""},
    {"Write", kStatusOnly, 25, ""},
    {"Delete", kStatusOnly, 26, "T"},
    {"RecUnLock", kStatusOnly, 135, "T"},
    {"WhoLock", kPlain, 138, "T 33"},
    {"BeginTransaction", kStatusOnly, 14, ""},
    {"EndTransaction", kStatusOnly, 15, ""},
    {"TRStatus", kPlain, 17, "4"},
    {"Commit", kStatusOnly, 18, ""},
    {"RollBack", kStatusOnly, 19, ""},
    {"CompactTable", kStatusOnly, 115, "T"},
    {"ClearTable", kStatusOnly, 117, "T 2"},
    {"CurrentKey", kPlain, 35, "* 4"},
    // field values
    {"GetField", kPlain, 27, "T * 4"},
    {"PutField", kStatusOnly, 28, "T * 4"},
    {"TestField", kStatusOnly, 29, "T * 4"},
    {"IsNull", kPlain, 133, "T 2"},
    {"CpyField", kStatusOnly, 40, "T T T T"},
    {"FRead", kPlain, 32, "T T * 4"},
    {"FWrite", kPlain, 33, "T T * 4"},
    {"MatGetFields", kPlain, 30, "12900 *"},
    {"GetRead", kPlain, 118, "T T 12900 *"},
    {"MatPutFields", kPlain, 31, "12900 *"},
    {"PutWrite", kPlain, 119, "12900 *"},
    // fields
    {"InfoFields", kPlain, 63, "T 12900"},
    {"AddField", kStatusOnly, 55, "T T 132"},
    {"DelField", kStatusOnly, 56, "T"},
    {"UpdField", kStatusOnly, 57, "T T 132"},
    {"GetField descriptor", kPlain, 58, "T * 132"},
    {"TableFields", kPlain, 59, "4 9900"},
    {"GFields", kPlain, 60, "* 4"},
    {"PFields", kStatusOnly, 61, "* 4"},
    {"CanBeDelete", kStatusOnly, 62, "T"},
    // databases and tables catalog
    {"NewDB", kStatusOnly, 86, "T T T 2 T"},
    {"DelDB", kStatusOnly, 85, ""},
    {"NumDB", kPlain, 87, "4 4"},
    {"DataBase", kPlain, 83, "4 *"},
    {"GetDataBase", kPlain, 84, "773"},
    {"Exist", kPlain, 92, "T 64 4"},
    {"LastUpdate", kPlain, 132, "T 11 9 2"},
    {"CreTable", kStatusOnly, 70, "T T T 113"},
    {"DbTables", kPlain, 71, "4 *"},
    {"DelTable", kStatusOnly, 72, "T 4"},
    {"GetPhysName", kPlain, 73, "256"},
    {"GetTable record", kPlain, 75, "113"},
    {"NumTables", kPlain, 76, "4 4"},
    {"RebTable", kStatusOnly, 77, "4 4"},
    {"UpdTable", kStatusOnly, 78, "113"},
    {"Rename", kStatusOnly, 81, "T T"},
    // users and privileges
    {"ValidUser", kPlain, 94, "T P T"},
    {"ReadUser", kPlain, 95, "T T 10000"},
    {"AddUser", kStatusOnly, 96, "T P T"},
    {"DelUser", kStatusOnly, 97, "T T T"},
    {"UpdUser", kStatusOnly, 98, "T P T T"},
    {"NumUsers", kPlain, 99, "T 4 4"},
    {"GetUsers", kPlain, 100, "T 4 *"},
    {"Grant", kStatusOnly, 103, "T T T T 4"},
    {"Revoke", kStatusOnly, 104, "T T T T 4"},
    {"IsAuthorizated", kStatusOnly, 105, "T T T T 4"},
    {"TBGrantAll", kStatusOnly, 106, "T T 4"},
    {"TBRevokeAll", kStatusOnly, 107, "T T 4"},
    {"UsrGrantAll", kStatusOnly, 108, "T T T 4"},
    {"UsrRevokeAll", kStatusOnly, 109, "T T T 4"},
    {"NumUsrPerTB", kPlain, 110, "T T 4 4"},
    {"NumTBPerUser", kPlain, 111, "T T T 4 4"},
    {"UsrPerTable", kPlain, 112, "T T * 4"},
    {"TablesPerUser", kPlain, 113, "T T T * 4"},
    {"TBDeleteAll", kStatusOnly, 114, "T T"},
    {"GetAccounts", kPlain, 116, "* 4"},
    {"GetPrivileges", kPlain, 137, "T T T T 4"},
    // indexes
    {"CreateIndex", kStatusOnly, 36, "T T T"},
    {"EraseIndex", kStatusOnly, 37, "T"},
    {"RebuildIndex", kStatusOnly, 38, "T"},
    {"AddIFields", kStatusOnly, 64, "T T 4"},
    {"DelIFields", kStatusOnly, 65, "T T"},
    {"UpdIFields", kStatusOnly, 66, "T T 4"},
    {"IndexFields", kPlain, 67, "T 4 3900"},
    {"TableIndex", kPlain, 68, "4 3600"},
    {"GetIndex", kPlain, 69, "T 36"},
    // constraints and default values
    {"AddConstrain", kStatusOnly, 42, "T 364"},
    {"DelConstrain", kStatusOnly, 43, "T 4"},
    {"UpdConstrain", kStatusOnly, 44, "T 364"},
    {"GetConstrain", kPlain, 45, "T 2 364"},
    {"FieldConstrain", kPlain, 46, "T 4 250"},
    {"PutDefaultValue", kStatusOnly, 129, "T T"},
    {"GetDefaultValue", kPlain, 130, "T 513"},
    {"DelDefaultValue", kStatusOnly, 131, "T"},
    // cross references
    {"AddFXREF", kStatusOnly, 47, "T T T T T T T"},
    {"AddTXREF", kStatusOnly, 48, "T T T T T T T"},
    {"DelFXREF", kStatusOnly, 49, "T T T T"},
    {"DelTXREF", kStatusOnly, 50, "T T T T"},
    {"XRefFromField", kPlain, 51, "T 29700 4"},
    {"XRefToField", kPlain, 52, "T 29700 4"},
    {"GetTXREF", kPlain, 53, "T T T T 297"},
    {"GetFXREF", kPlain, 54, "T T T T 297"},
    {"DelXREF", kStatusOnly, 125, "T"},
    {"TBRefFrom", kPlain, 126, "3304"},
    {"TBRefTo", kPlain, 127, "3304"},
    {"GetXRef", kPlain, 128, "T 671"},
    {"XRefTest", kStatusOnly, 136, "T T"},
    // server files
    {"BackupTable", kStatusOnly, 20, "T T"},
    {"RestoreTable", kStatusOnly, 21, "T T"},
    {"CFUsers", kStatusOnly, 101, "T"},
    {"DFUsers", kStatusOnly, 102, "T"},
    // around the tables
    {"Alias", kStatusOnly, 39, "T T T"},
    {"TableAlias", kPlain, 90, "3300 4"},
    {"2CpyField", kStatusOnly, 41, "T T T T T T"},
    {"FFCopy", kStatusOnly, 122, "T T"},
    {"GetIDTable", kPlain, 79, "T T 7"},
    {"Structure", kPlain, 80, "64 1500 4"},
    {"GetFsf", kPlain, 74, "2"},
    {"FsfToZdb", kPlain, 82, "1500 4 4 T"},
    {"Create", kStatusOnly, 91, "T 4 4"},
    {"ExpCheck", kStatusOnly, 93, "T T"},
    {"GetSelector", kPlain, 121, "508 2"},
    {"Internal", kPlain, 34, "4 * *"},
    // streams
    {"SqlRun", kScriptKind, 0, "T T 4"},
    {"ExportDB", kExportKind, 88, "T T T"},
    {"ImportDB", kImportKind, 89, "T T T T"},};
// clang-format on

// The operation of this name, found while compiling: a misspelt name does not build.
consteval const Operation& Op(std::string_view name) {
  for (const Operation& op : kOperations)
    if (op.name == name) return op;
  throw "not an operation of the protocol";
}

// The opcode of the operation of this name.
consteval uint32_t Opcode(std::string_view name) {
  return Op(name).opcode;
}

// Names and (kind, opcode) pairs are unique, so both find one operation.
consteval bool OperationsDistinct() {
  for (size_t i = 0; i < std::size(kOperations); ++i)
    for (size_t j = i + 1; j < std::size(kOperations); ++j)
      if (kOperations[i].name == kOperations[j].name ||
          (kOperations[i].Kind() == kOperations[j].Kind() &&
           kOperations[i].opcode == kOperations[j].opcode))
        return false;
  return true;
}
static_assert(OperationsDistinct());

// The operation a request header names, or null for one the protocol does not know.
constexpr const Operation* FindOperation(uint8_t kind, uint32_t opcode) {
  for (const Operation& op : kOperations)
    if (op.Kind() == kind && op.opcode == opcode) return &op;
  return nullptr;
}

}  // namespace zdb::wire
