// Every exported catalog member, and the members of the table and field families that have no
// step of their own, called against the scripted peer: the frame that arrives must carry the
// member's request kind and flags, opcode, parameter count and, slot by slot, the length and
// bytes of the right argument; the reply must land in exactly the caller memory that a full
// reply writes and nowhere else. The expectations below are written out per member by hand, from
// the protocol's description, not read from the library's own table.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/le.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

constexpr int kArgs = 8;
constexpr size_t kBufferSize = 30000 + 64;

// Caller memory for one call: argument i is text i, value i, counter i or buffer i.
struct Args {
  std::array<std::array<char, 16>, kArgs> texts{};
  std::array<int32_t, kArgs> values{};
  std::array<int32_t, kArgs> counters{};
  std::array<std::vector<uint8_t>, kArgs> buffers;

  Args() {
    for (int i = 0; i < kArgs; ++i) {
      texts[i].fill('z');
      std::memset(texts[i].data(), 'a' + i, static_cast<size_t>(i) + 2);  // i + 2 letters
      texts[i][static_cast<size_t>(i) + 2] = 0;
      counters[i] = 0x11223300 + i;
      buffers[i].assign(kBufferSize, static_cast<uint8_t>(0xE0 + i));
    }
  }
  std::string OriginalText(int i) const { return std::string(static_cast<size_t>(i) + 2, 'a' + i); }
  char* T(int i) { return texts[i].data(); }
  int32_t V(int i) { return values[i] = 0x0A0B0C00 + i; }
  int32_t N(int i, int32_t n) { return values[i] = n; }
  int32_t* P(int i) { return &counters[i]; }
  void* B(int i) { return buffers[i].data(); }
  char* C(int i) { return reinterpret_cast<char*>(buffers[i].data()); }
};

enum class Kind { kText, kConvertedText, kValue, kHalf, kCounter, kBuffer };
struct SlotExpect {
  Kind kind;
  int arg;
  uint32_t length = 0;  // buffers only; texts, values and counters have theirs by kind
};
SlotExpect Tx(int a) {
  return {Kind::kText, a};
}
SlotExpect Cx(int a) {
  return {Kind::kConvertedText, a};
}
SlotExpect Vx(int a) {
  return {Kind::kValue, a};
}
SlotExpect Hx(int a) {
  return {Kind::kHalf, a};
}
SlotExpect Px(int a) {
  return {Kind::kCounter, a};
}
SlotExpect Bx(int a, uint32_t n) {
  return {Kind::kBuffer, a, n};
}

constexpr uint16_t kFull = 0x0001;
constexpr uint16_t kStatus = 0x8001;

struct Case {
  const char* name;
  uint16_t kindFlags;
  uint32_t opcode;
  std::vector<SlotExpect> slots;
  std::function<int32_t(Args&)> call;
};

// clang-format off
const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
    // databases
    {"Z_NewDB", kStatus, Opcode("NewDB"), {Tx(0), Tx(1), Tx(2), Hx(3), Tx(4)},
     [](Args& a) { return Z_NewDB(a.T(0), a.T(1), a.T(2), a.V(3), a.T(4)); }},
    {"Z_DelDB", kStatus, Opcode("DelDB"), {}, [](Args&) { return Z_DelDB(); }},
    {"Z_NumDB", kFull, Opcode("NumDB"), {Px(0), Px(1)}, [](Args& a) { return Z_NumDB(a.P(0), a.P(1)); }},
    {"Z_DataBase", kFull, Opcode("DataBase"), {Vx(0), Bx(1, 27)},
     [](Args& a) { return Z_DataBase(a.N(0, 3), a.C(1)); }},
    {"Z_GetDataBase", kFull, Opcode("GetDataBase"), {Bx(0, 773)}, [](Args& a) { return Z_GetDataBase(a.B(0)); }},
    // tables
    {"Z_CreTable", kStatus, Opcode("CreTable"), {Tx(0), Tx(1), Tx(2), Bx(3, 113)},
     [](Args& a) { return Z_CreTable(a.T(0), a.T(1), a.T(2), a.B(3)); }},
    {"Z_DbTables", kFull, Opcode("DbTables"), {Vx(0), Bx(1, 4 * 33)},
     [](Args& a) { return Z_DbTables(a.N(0, 4), a.C(1)); }},
    {"Z_DelTable", kStatus, Opcode("DelTable"), {Tx(0), Vx(1)},
     [](Args& a) { return Z_DelTable(a.T(0), a.V(1)); }},
    {"Z_GetPhysName", kFull, Opcode("GetPhysName"), {Bx(0, 256)}, [](Args& a) { return Z_GetPhysName(a.C(0)); }},
    {"Z_GetFsf", kFull, Opcode("GetFsf"), {Bx(0, 2)}, [](Args& a) { return Z_GetFsf(a.B(0)); }},
    {"Z_GetTable", kFull, Opcode("GetTable record"), {Bx(0, 113)}, [](Args& a) { return Z_GetTable(a.B(0)); }},
    {"Z_NumTables", kFull, Opcode("NumTables"), {Px(0), Px(1)},
     [](Args& a) { return Z_NumTables(a.P(0), a.P(1)); }},
    {"Z_RebTable", kStatus, Opcode("RebTable"), {Vx(0), Vx(1)},
     [](Args& a) { return Z_RebTable(a.V(0), a.V(1)); }},
    {"Z_UpdTable", kStatus, Opcode("UpdTable"), {Bx(0, 113)}, [](Args& a) { return Z_UpdTable(a.B(0)); }},
    {"Z_GetIDTable", kFull, Opcode("GetIDTable"), {Tx(0), Tx(1), Bx(2, 7)},
     [](Args& a) { return Z_GetIDTable(a.T(0), a.T(1), a.B(2)); }},
    {"Z_Structure", kFull, Opcode("Structure"), {Bx(0, 64), Bx(1, 1500), Px(2)},
     [](Args& a) { return Z_Structure(a.C(0), a.B(1), a.P(2)); }},
    {"Z_Rename", kStatus, Opcode("Rename"), {Tx(0), Tx(1)}, [](Args& a) { return Z_Rename(a.T(0), a.T(1)); }},
    {"Z_TableAlias", kFull, Opcode("TableAlias"), {Bx(0, 3300), Px(1)},
     [](Args& a) { return Z_TableAlias(a.B(0), a.P(1)); }},
    // fields
    {"Z_AddField", kStatus, Opcode("AddField"), {Tx(0), Tx(1), Bx(2, 132)},
     [](Args& a) { return Z_AddField(a.T(0), a.T(1), a.B(2)); }},
    {"Z_DelField", kStatus, Opcode("DelField"), {Tx(0)}, [](Args& a) { return Z_DelField(a.T(0)); }},
    {"Z_UpdField", kStatus, Opcode("UpdField"), {Tx(0), Tx(1), Bx(2, 132)},
     [](Args& a) { return Z_UpdField(a.T(0), a.T(1), a.B(2)); }},
    {"Z_GetField", kFull, Opcode("GetField descriptor"), {Tx(0), Bx(1, 513), Bx(2, 132)},
     [](Args& a) { return Z_GetField(a.T(0), a.C(1), a.B(2)); }},
    {"Z_TableFields", kFull, Opcode("TableFields"), {Px(0), Bx(1, 9900)},
     [](Args& a) { return Z_TableFields(a.P(0), a.B(1)); }},
    {"Z_GFields", kFull, Opcode("GFields"), {Bx(0, 77), Vx(1)},
     [](Args& a) { return Z_GFields(a.B(0), a.N(1, 77)); }},
    // a lookup with no table cached goes to the server
    {"Z_InfoFields", kFull, Opcode("InfoFields"), {Tx(0), Bx(1, 12900)},
     [](Args& a) { return Z_InfoFields(a.T(0), a.B(1)); }},
    {"Z_CanBeDelete", kStatus, Opcode("CanBeDelete"), {Tx(0)}, [](Args& a) { return Z_CanBeDelete(a.T(0)); }},
    // indexes
    {"Z_AddIFields", kStatus, Opcode("AddIFields"), {Tx(0), Tx(1), Vx(2)},
     [](Args& a) { return Z_AddIFields(a.T(0), a.T(1), a.V(2)); }},
    {"Z_DelIFields", kStatus, Opcode("DelIFields"), {Tx(0), Tx(1)},
     [](Args& a) { return Z_DelIFields(a.T(0), a.T(1)); }},
    {"Z_UpdIFields", kStatus, Opcode("UpdIFields"), {Tx(0), Tx(1), Vx(2)},
     [](Args& a) { return Z_UpdIFields(a.T(0), a.T(1), a.V(2)); }},
    {"Z_IndexFields", kFull, Opcode("IndexFields"), {Tx(0), Px(1), Bx(2, 3900)},
     [](Args& a) { return Z_IndexFields(a.T(0), a.P(1), a.B(2)); }},
    {"Z_TableIndex", kFull, Opcode("TableIndex"), {Px(0), Bx(1, 3600)},
     [](Args& a) { return Z_TableIndex(a.P(0), a.B(1)); }},
    {"Z_GetIndex", kFull, Opcode("GetIndex"), {Tx(0), Bx(1, 36)},
     [](Args& a) { return Z_GetIndex(a.T(0), a.B(1)); }},
    // constraints and default values
    {"Z_AddConstrain", kStatus, Opcode("AddConstrain"), {Tx(0), Bx(1, 364)},
     [](Args& a) { return Z_AddConstrain(a.T(0), a.B(1)); }},
    {"Z_DelConstrain", kStatus, Opcode("DelConstrain"), {Tx(0), Vx(1)},
     [](Args& a) { return Z_DelConstrain(a.T(0), a.V(1)); }},
    {"Z_UpdConstrain", kStatus, Opcode("UpdConstrain"), {Tx(0), Bx(1, 364)},
     [](Args& a) { return Z_UpdConstrain(a.T(0), a.B(1)); }},
    {"Z_GetConstrain", kFull, Opcode("GetConstrain"), {Tx(0), Hx(1), Bx(2, 364)},
     [](Args& a) { return Z_GetConstrain(a.T(0), a.V(1), a.B(2)); }},
    {"Z_FieldConstrain", kFull, Opcode("FieldConstrain"), {Tx(0), Px(1), Bx(2, 250)},
     [](Args& a) { return Z_FieldConstrain(a.T(0), a.P(1), a.B(2)); }},
    {"Z_PutDefaultValue", kStatus, Opcode("PutDefaultValue"), {Tx(0), Tx(1)},
     [](Args& a) { return Z_PutDefaultValue(a.T(0), a.T(1)); }},
    {"Z_GetDefaultValue", kFull, Opcode("GetDefaultValue"), {Tx(0), Bx(1, 513)},
     [](Args& a) { return Z_GetDefaultValue(a.T(0), a.C(1)); }},
    {"Z_DelDefaultValue", kStatus, Opcode("DelDefaultValue"), {Tx(0)},
     [](Args& a) { return Z_DelDefaultValue(a.T(0)); }},
    // cross references
    {"Z_AddFXREF", kStatus, Opcode("AddFXREF"), {Tx(0), Tx(1), Tx(2), Tx(3), Tx(4), Tx(5), Tx(6)},
     [](Args& a) { return Z_AddFXREF(a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.T(5), a.T(6)); }},
    {"Z_AddTXREF", kStatus, Opcode("AddTXREF"), {Tx(0), Tx(1), Tx(2), Tx(3), Tx(4), Tx(5), Tx(6)},
     [](Args& a) { return Z_AddTXREF(a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.T(5), a.T(6)); }},
    {"Z_DelFXREF", kStatus, Opcode("DelFXREF"), {Tx(0), Tx(1), Tx(2), Tx(3)},
     [](Args& a) { return Z_DelFXREF(a.T(0), a.T(1), a.T(2), a.T(3)); }},
    {"Z_DelTXREF", kStatus, Opcode("DelTXREF"), {Tx(0), Tx(1), Tx(2), Tx(3)},
     [](Args& a) { return Z_DelTXREF(a.T(0), a.T(1), a.T(2), a.T(3)); }},
    {"Z_XRefFromField", kFull, Opcode("XRefFromField"), {Tx(0), Bx(1, 29700), Px(2)},
     [](Args& a) { return Z_XRefFromField(a.T(0), a.B(1), a.P(2)); }},
    {"Z_XRefToField", kFull, Opcode("XRefToField"), {Tx(0), Bx(1, 29700), Px(2)},
     [](Args& a) { return Z_XRefToField(a.T(0), a.B(1), a.P(2)); }},
    {"Z_GetTXREF", kFull, Opcode("GetTXREF"), {Tx(0), Tx(1), Tx(2), Tx(3), Bx(4, 297)},
     [](Args& a) { return Z_GetTXREF(a.T(0), a.T(1), a.T(2), a.T(3), a.B(4)); }},
    {"Z_GetFXREF", kFull, Opcode("GetFXREF"), {Tx(0), Tx(1), Tx(2), Tx(3), Bx(4, 297)},
     [](Args& a) { return Z_GetFXREF(a.T(0), a.T(1), a.T(2), a.T(3), a.B(4)); }},
    {"Z_DelXREF", kStatus, Opcode("DelXREF"), {Tx(0)}, [](Args& a) { return Z_DelXREF(a.T(0)); }},
    {"Z_TBRefFrom", kFull, Opcode("TBRefFrom"), {Bx(0, 3304)}, [](Args& a) { return Z_TBRefFrom(a.B(0)); }},
    {"Z_TBRefTo", kFull, Opcode("TBRefTo"), {Bx(0, 3304)}, [](Args& a) { return Z_TBRefTo(a.B(0)); }},
    {"Z_GetXRef", kFull, Opcode("GetXRef"), {Tx(0), Bx(1, 671)},
     [](Args& a) { return Z_GetXRef(a.T(0), a.B(1)); }},
    // users and privileges
    {"Z_ValidUser", kFull, Opcode("ValidUser"), {Cx(0), Cx(1), Cx(2)},
     [](Args& a) { return Z_ValidUser(a.T(0), a.T(1), a.T(2)); }},
    {"Z_ReadUser", kFull, Opcode("ReadUser"), {Tx(0), Tx(1), Bx(2, 10000)},
     [](Args& a) { return Z_ReadUser(a.T(0), a.T(1), a.B(2)); }},
    {"Z_AddUser", kStatus, Opcode("AddUser"), {Tx(0), Tx(1), Tx(2)},
     [](Args& a) { return Z_AddUser(a.T(0), a.T(1), a.T(2)); }},
    {"Z_DelUser", kStatus, Opcode("DelUser"), {Tx(0), Tx(1), Tx(2)},
     [](Args& a) { return Z_DelUser(a.T(0), a.T(1), a.T(2)); }},
    {"Z_UpdUser", kStatus, Opcode("UpdUser"), {Tx(0), Tx(1), Tx(2), Tx(3)},
     [](Args& a) { return Z_UpdUser(a.T(0), a.T(1), a.T(2), a.T(3)); }},
    {"Z_NumUsers", kFull, Opcode("NumUsers"), {Tx(0), Px(1), Px(2)},
     [](Args& a) { return Z_NumUsers(a.T(0), a.P(1), a.P(2)); }},
    {"Z_GetUsers", kFull, Opcode("GetUsers"), {Tx(0), Vx(1), Bx(2, 2 * 65)},
     [](Args& a) { return Z_GetUsers(a.T(0), a.N(1, 2), a.C(2)); }},
    {"Z_CFUsers", kStatus, Opcode("CFUsers"), {Tx(0)}, [](Args& a) { return Z_CFUsers(a.T(0)); }},
    {"Z_DFUsers", kStatus, Opcode("DFUsers"), {Tx(0)}, [](Args& a) { return Z_DFUsers(a.T(0)); }},
    {"Z_Grant", kStatus, Opcode("Grant"), {Tx(0), Tx(1), Tx(2), Tx(3), Vx(4)},
     [](Args& a) { return Z_Grant(a.T(0), a.T(1), a.T(2), a.T(3), a.V(4)); }},
    {"Z_Revoke", kStatus, Opcode("Revoke"), {Tx(0), Tx(1), Tx(2), Tx(3), Vx(4)},
     [](Args& a) { return Z_Revoke(a.T(0), a.T(1), a.T(2), a.T(3), a.V(4)); }},
    {"Z_IsAuthorizated", kStatus, Opcode("IsAuthorizated"), {Tx(0), Tx(1), Tx(2), Tx(3), Vx(4)},
     [](Args& a) { return Z_IsAuthorizated(a.T(0), a.T(1), a.T(2), a.T(3), a.V(4)); }},
    {"Z_TBGrantAll", kStatus, Opcode("TBGrantAll"), {Tx(0), Tx(1), Vx(2)},
     [](Args& a) { return Z_TBGrantAll(a.T(0), a.T(1), a.V(2)); }},
    {"Z_TBRevokeAll", kStatus, Opcode("TBRevokeAll"), {Tx(0), Tx(1), Vx(2)},
     [](Args& a) { return Z_TBRevokeAll(a.T(0), a.T(1), a.V(2)); }},
    {"Z_UsrGrantAll", kStatus, Opcode("UsrGrantAll"), {Tx(0), Tx(1), Tx(2), Vx(3)},
     [](Args& a) { return Z_UsrGrantAll(a.T(0), a.T(1), a.T(2), a.V(3)); }},
    {"Z_UsrRevokeAll", kStatus, Opcode("UsrRevokeAll"), {Tx(0), Tx(1), Tx(2), Vx(3)},
     [](Args& a) { return Z_UsrRevokeAll(a.T(0), a.T(1), a.T(2), a.V(3)); }},
    {"Z_NumUsrPerTB", kFull, Opcode("NumUsrPerTB"), {Tx(0), Tx(1), Px(2), Px(3)},
     [](Args& a) { return Z_NumUsrPerTB(a.T(0), a.T(1), a.P(2), a.P(3)); }},
    {"Z_NumTBPerUser", kFull, Opcode("NumTBPerUser"), {Tx(0), Tx(1), Tx(2), Px(3), Px(4)},
     [](Args& a) { return Z_NumTBPerUser(a.T(0), a.T(1), a.T(2), a.P(3), a.P(4)); }},
    {"Z_UsrPerTable", kFull, Opcode("UsrPerTable"), {Tx(0), Tx(1), Bx(2, 3 * 65), Vx(3)},
     [](Args& a) { return Z_UsrPerTable(a.T(0), a.T(1), a.C(2), a.N(3, 3)); }},
    {"Z_TablesPerUser", kFull, Opcode("TablesPerUser"), {Tx(0), Tx(1), Tx(2), Bx(3, 5 * 33), Vx(4)},
     [](Args& a) { return Z_TablesPerUser(a.T(0), a.T(1), a.T(2), a.C(3), a.N(4, 5)); }},
    {"Z_TBDeleteAll", kStatus, Opcode("TBDeleteAll"), {Tx(0), Tx(1)},
     [](Args& a) { return Z_TBDeleteAll(a.T(0), a.T(1)); }},
    {"Z_GetAccounts", kFull, Opcode("GetAccounts"), {Bx(0, 6 * 12), Vx(1)},
     [](Args& a) { return Z_GetAccounts(a.B(0), a.N(1, 6)); }},
    {"Z_GetPrivileges", kFull, Opcode("GetPrivileges"), {Tx(0), Tx(1), Tx(2), Tx(3), Px(4)},
     [](Args& a) { return Z_GetPrivileges(a.T(0), a.T(1), a.T(2), a.T(3), a.P(4)); }},
    // other requests (the run login and its end have tests of their own)
    {"Z_Internal", kFull, Opcode("Internal"), {Vx(0), Bx(1, 10), Bx(3, 20)},
     [](Args& a) { return Z_Internal(a.V(0), a.B(1), a.N(2, 10), a.B(3), a.N(4, 20)); }},
    {"Z_CurrentKey", kFull, Opcode("CurrentKey"), {Bx(0, 40), Vx(1)},
     [](Args& a) { return Z_CurrentKey(a.B(0), a.N(1, 40)); }},
    {"Z_FsfToZdb", kFull, Opcode("FsfToZdb"), {Bx(0, 1500), Vx(1), Vx(2), Tx(3)},
     [](Args& a) { return Z_FsfToZdb(a.B(0), a.V(1), a.V(2), a.T(3)); }},
    {"Z_Create", kStatus, Opcode("Create"), {Tx(0), Vx(1), Vx(2)},
     [](Args& a) { return Z_Create(a.T(0), a.V(1), a.V(2)); }},
    {"Z_Exist", kFull, Opcode("Exist"), {Tx(0), Bx(1, 64), Px(2)},
     [](Args& a) { return Z_Exist(a.T(0), a.C(1), a.P(2)); }},
    {"Z_ExpCheck", kStatus, Opcode("ExpCheck"), {Tx(0), Tx(1)},
     [](Args& a) { return Z_ExpCheck(a.T(0), a.T(1)); }},
    {"Z_GetError", kFull, Opcode("GetError"), {Vx(0), Bx(1, 129)},
     [](Args& a) { return Z_GetError(static_cast<uint32_t>(a.V(0)), a.C(1)); }},
    {"ZDB_GetError", kFull, Opcode("GetError"), {Vx(0), Bx(1, 129)},
     [](Args& a) { return ZDB_GetError(static_cast<uint32_t>(a.V(0)), a.C(1)); }},
    {"Z_GetSelector", kFull, Opcode("GetSelector"), {Bx(0, 508), Bx(1, 2)},
     [](Args& a) { return Z_GetSelector(a.B(0), a.B(1)); }},
    {"Z_LastUpdate", kFull, Opcode("LastUpdate"), {Tx(0), Bx(1, 11), Bx(2, 9), Bx(3, 2)},
     [](Args& a) { return Z_LastUpdate(a.T(0), a.C(1), a.C(2), a.B(3)); }},
    // the table family's plain members: locks, records, transactions, indexes, copies
    {"ZDB_DBLock", kStatus, Opcode("DBLock"), {Tx(0)}, [](Args& a) { return ZDB_DBLock(a.T(0)); }},
    {"ZDB_DBUnLock", kStatus, Opcode("DBUnLock"), {Tx(0)}, [](Args& a) { return ZDB_DBUnLock(a.T(0)); }},
    {"ZDB_DBIsLock", kStatus, Opcode("DBIsLock"), {Tx(0)}, [](Args& a) { return ZDB_DBIsLock(a.T(0)); }},
    {"ZDB_LockTable", kStatus, Opcode("LockTable"), {Tx(0)}, [](Args& a) { return ZDB_LockTable(a.T(0)); }},
    {"ZDB_Seek", kStatus, Opcode("Seek"), {Tx(0), Tx(1)}, [](Args& a) { return ZDB_Seek(a.T(0), a.T(1)); }},
    {"ZDB_Read", kStatus, Opcode("Read"), {Tx(0), Tx(1)}, [](Args& a) { return ZDB_Read(a.T(0), a.T(1)); }},
    {"ZDB_AppendBlank", kStatus, Opcode("AppendBlank"), {}, [](Args&) { return ZDB_AppendBlank(); }},
    {"ZDB_Write", kStatus, Opcode("Write"), {}, [](Args&) { return ZDB_Write(); }},
    {"ZDB_Delete", kStatus, Opcode("Delete"), {Tx(0)}, [](Args& a) { return ZDB_Delete(a.T(0)); }},
    {"ZDB_RecUnLock", kStatus, Opcode("RecUnLock"), {Tx(0)}, [](Args& a) { return ZDB_RecUnLock(a.T(0)); }},
    {"ZDB_WhoLock", kFull, Opcode("WhoLock"), {Tx(0), Bx(1, 33)}, [](Args& a) { return ZDB_WhoLock(a.T(0), a.C(1)); }},
    {"ZDB_BeginTransaction", kStatus, Opcode("BeginTransaction"), {}, [](Args&) { return ZDB_BeginTransaction(); }},
    {"ZDB_EndTransaction", kStatus, Opcode("EndTransaction"), {}, [](Args&) { return ZDB_EndTransaction(); }},
    {"ZDB_Commit", kStatus, Opcode("Commit"), {}, [](Args&) { return ZDB_Commit(); }},
    {"ZDB_RollBack", kStatus, Opcode("RollBack"), {}, [](Args&) { return ZDB_RollBack(); }},
    {"ZDB_TRStatus", kFull, Opcode("TRStatus"), {Px(0)}, [](Args& a) { return ZDB_TRStatus(a.P(0)); }},
    {"ZDB_BackupTable", kStatus, Opcode("BackupTable"), {Tx(0), Tx(1)},
     [](Args& a) { return ZDB_BackupTable(a.T(0), a.T(1)); }},
    {"ZDB_RestoreTable", kStatus, Opcode("RestoreTable"), {Tx(0), Tx(1)},
     [](Args& a) { return ZDB_RestoreTable(a.T(0), a.T(1)); }},
    {"ZDB_CreateIndex", kStatus, Opcode("CreateIndex"), {Tx(0), Tx(1), Tx(2)},
     [](Args& a) { return ZDB_CreateIndex(a.T(0), a.T(1), a.T(2)); }},
    {"ZDB_EraseIndex", kStatus, Opcode("EraseIndex"), {Tx(0)}, [](Args& a) { return ZDB_EraseIndex(a.T(0)); }},
    {"ZDB_RebuildIndex", kStatus, Opcode("RebuildIndex"), {Tx(0)}, [](Args& a) { return ZDB_RebuildIndex(a.T(0)); }},
    {"ZDB_CompactTable", kStatus, Opcode("CompactTable"), {Tx(0)}, [](Args& a) { return ZDB_CompactTable(a.T(0)); }},
    {"ZDB_ClearTable", kStatus, Opcode("ClearTable"), {Tx(0), Hx(1)},
     [](Args& a) { return ZDB_ClearTable(a.T(0), a.V(1)); }},
    {"ZDB_FFCopy", kStatus, Opcode("FFCopy"), {Tx(0), Tx(1)}, [](Args& a) { return ZDB_FFCopy(a.T(0), a.T(1)); }},
    // the field family's members with no step of their own
    {"ZDB_IsNull", kFull, Opcode("IsNull"), {Tx(0), Bx(1, 2)}, [](Args& a) { return ZDB_IsNull(a.T(0), a.B(1)); }},
    {"ZDB_CpyField", kStatus, Opcode("CpyField"), {Tx(0), Tx(1), Tx(2), Tx(3)},
     [](Args& a) { return ZDB_CpyField(a.T(0), a.T(1), a.T(2), a.T(3)); }},
    {"ZDB_2CpyField", kStatus, Opcode("2CpyField"), {Tx(0), Tx(1), Tx(2), Tx(3), Tx(4), Tx(5)},
     [](Args& a) { return ZDB_2CpyField(a.T(0), a.T(1), a.T(2), a.T(3), a.T(4), a.T(5)); }},
    {"ZDB_XRefTest", kStatus, Opcode("XRefTest"), {Tx(0), Tx(1)}, [](Args& a) { return ZDB_XRefTest(a.T(0), a.T(1)); }},
  };
  return cases;
}
// clang-format on

// What the peer writes into reply slot i: plain ASCII, which both character set directions
// leave alone, and different from every argument's own bytes.
uint8_t ReplyByte(size_t slot) {
  return static_cast<uint8_t>('A' + slot);
}

int32_t StatusFor(uint32_t opcode) {
  return 4000 + static_cast<int32_t>(opcode);
}

void ScriptCatalogAnswers(test::ScriptedPeer& peer) {
  std::set<uint32_t> opcodes;
  for (const Case& c : Cases()) opcodes.insert(c.opcode);
  for (uint32_t op : opcodes) {
    peer.OnOpcode(op, [](const test::Request& req, test::PeerConnection& c) {
      if (req.header.flags & 0x80) return c.ReplyStatus(StatusFor(req.header.opcode));
      test::Bytes reply = test::PeerConnection::FullReply(req, StatusFor(req.header.opcode),
                                                          req.header.sessionHandle);
      size_t at = wire::kHeaderSize;
      for (size_t i = 0; i < req.slots.size(); ++i) {
        std::memset(reply.data() + at, ReplyByte(i), req.slots[i].size());
        at += req.slots[i].size();
      }
      return c.Write(reply);
    });
  }
}

test::Bytes Le(uint32_t v, size_t n) {
  test::Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

// The bytes a slot must carry, from the argument's state before the call.
test::Bytes ExpectedSlot(const SlotExpect& e, const Args& before) {
  switch (e.kind) {
    case Kind::kText:
    case Kind::kConvertedText: {
      std::string t = before.OriginalText(e.arg);
      test::Bytes b(t.begin(), t.end());
      b.push_back(0);
      return b;
    }
    case Kind::kValue:
      return Le(static_cast<uint32_t>(before.values[e.arg]), 4);
    case Kind::kHalf:
      return Le(static_cast<uint32_t>(before.values[e.arg]), 2);
    case Kind::kCounter:
      return Le(static_cast<uint32_t>(before.counters[e.arg]), 4);
    case Kind::kBuffer:
      return test::Bytes(e.length, static_cast<uint8_t>(0xE0 + e.arg));
  }
  return {};
}

// The caller memory behind a slot after the call: `written` bytes from the reply, then the
// first byte beyond the slot, which must never change.
void CheckCallerMemory(const Case& c, size_t slot, const SlotExpect& e, const Args& a,
                       bool written) {
  SCOPED_TRACE(testing::Message() << "slot " << slot);
  const uint8_t fill = ReplyByte(slot);
  switch (e.kind) {
    case Kind::kText: {
      const std::string original = a.OriginalText(e.arg);
      const size_t n = original.size() + 1;
      for (size_t i = 0; i < n; ++i) {
        const uint8_t want = written ? fill : static_cast<uint8_t>(original.c_str()[i]);
        ASSERT_EQ(static_cast<uint8_t>(a.texts[e.arg][i]), want) << c.name << " at " << i;
      }
      EXPECT_EQ(a.texts[e.arg][n], 'z') << c.name << " past the slot";
      break;
    }
    case Kind::kConvertedText:  // the converted copy takes the reply, the caller's text stays
      EXPECT_EQ(std::string(a.texts[e.arg].data()), a.OriginalText(e.arg)) << c.name;
      break;
    case Kind::kValue:
    case Kind::kHalf:
      break;  // sent from a private copy: the caller has nothing that could change
    case Kind::kCounter:
      EXPECT_EQ(static_cast<uint32_t>(a.counters[e.arg]),
                written ? fill * 0x01010101u : static_cast<uint32_t>(0x11223300 + e.arg))
          << c.name;
      break;
    case Kind::kBuffer: {
      const auto& buf = a.buffers[e.arg];
      const uint8_t want = written ? fill : static_cast<uint8_t>(0xE0 + e.arg);
      for (size_t i = 0; i < e.length; ++i) ASSERT_EQ(buf[i], want) << c.name << " at " << i;
      EXPECT_EQ(buf[e.length], 0xE0 + e.arg) << c.name << " past the slot";
      break;
    }
  }
}

void CheckMember(const Case& c, test::ScriptedPeer& peer) {
  SCOPED_TRACE(c.name);
  Args args;
  const size_t sent = peer.requests().size();
  const int32_t result = c.call(args);
  // Memory as it was before the call, with the values the call passed.
  Args before;
  before.values = args.values;
  EXPECT_EQ(result, StatusFor(c.opcode));
  auto requests = peer.requests();
  ASSERT_EQ(requests.size(), sent + 1) << "one exchange per call";
  const test::Request& req = requests.back();
  EXPECT_TRUE(req.magicOk);
  EXPECT_EQ(req.header.kindFlags(), c.kindFlags);
  EXPECT_EQ(req.header.opcode, c.opcode);
  ASSERT_EQ(req.header.paramCount, static_cast<int8_t>(c.slots.size()));
  ASSERT_EQ(req.slots.size(), c.slots.size());
  uint32_t total = wire::kHeaderSize;
  for (size_t i = 0; i < c.slots.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "slot " << i);
    const test::Bytes want = ExpectedSlot(c.slots[i], before);
    EXPECT_EQ(req.slots[i].size(), want.size());
    EXPECT_TRUE(req.slots[i] == want) << "slot bytes differ";
    total += static_cast<uint32_t>(req.slots[i].size());
  }
  EXPECT_EQ(req.header.total, total);
  const bool written = (c.kindFlags & 0x8000) == 0;
  for (size_t i = 0; i < c.slots.size(); ++i) CheckCallerMemory(c, i, c.slots[i], args, written);
}

TEST(CatalogMembers, EveryMemberSendsItsLayoutAndTakesBackExactlyItsSlots) {
  test::ScriptedPeer peer;
  ScriptCatalogAnswers(peer);
  test::ThreadSession session(peer);
  ASSERT_EQ(session->Login("", ""), kOk);
  std::set<std::string> names;
  for (const Case& c : Cases()) {
    EXPECT_TRUE(names.insert(c.name).second) << c.name << " listed twice";
    CheckMember(c, peer);
  }
  // With the run login and its end, Z_PFields (which asks for the table name first) and the
  // export and import with their file streams, the first 85 are the whole family of 89
  // members and the second name of the error-text request; 25 members of the table family
  // follow, then 3 of the field family.
  EXPECT_EQ(names.size(), 85u + 25u + 3u);
}

TEST(CatalogMembers, WithoutASessionNothingIsSent) {
  test::ScriptedPeer peer;
  Args a;
  for (const Case& c : Cases()) EXPECT_EQ(c.call(a), kErrComm) << c.name;
  EXPECT_EQ(Z_Run("", "", a.B(0), 0, a.P(0)), kErrComm);
  EXPECT_EQ(Z_NoRun(a.B(0), 0), kErrComm);
  EXPECT_EQ(peer.connections(), 0);
}

TEST(CatalogMembers, ARefusedImplicitLoginEndsTheCallUnsent) {
  test::ScriptedPeer peer;
  peer.OnOpcode(Opcode("Login"), [](const test::Request& req, test::PeerConnection& c) {
    return c.ReplyFull(req, 3100, 0xFFFFFFFFu);
  });
  test::ThreadSession session(peer);
  Args a;
  EXPECT_EQ(Z_AddField(a.T(0), a.T(1), a.B(2)), 3100);
  EXPECT_EQ(Z_NumDB(a.P(0), a.P(1)), 3100);
  EXPECT_EQ(a.counters[0], 0x11223300);
  EXPECT_EQ(peer.opcodes(), (std::vector<uint32_t>{Opcode("Login"), Opcode("Login")}));
}

}  // namespace
}  // namespace zdb
