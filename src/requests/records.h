// Record navigation, update and locks, transactions and table maintenance: requests the server
// alone gives meaning to. The library forwards the texts byte for byte, keeps no state and
// returns the server's code, so each member is its row here, run by ExecuteRequest.
#pragma once

#include "requests/request_table.h"

namespace zdb::tables {

inline constexpr uint32_t kLockHolderSize = 33;

// Records and locks.
inline constexpr RequestSpec kDBLock{"ZDB_DBLock", wire::Op("DBLock"), {Text(0)}};
inline constexpr RequestSpec kDBUnLock{"ZDB_DBUnLock", wire::Op("DBUnLock"), {Text(0)}};
inline constexpr RequestSpec kDBIsLock{"ZDB_DBIsLock", wire::Op("DBIsLock"), {Text(0)}};
inline constexpr RequestSpec kLockTable{"ZDB_LockTable", wire::Op("LockTable"), {Text(0)}};
inline constexpr RequestSpec kSeek{"ZDB_Seek", wire::Op("Seek"), {Text(0), Text(1)}};
inline constexpr RequestSpec kRead{"ZDB_Read", wire::Op("Read"), {Text(0), Text(1)}};
inline constexpr RequestSpec kAppendBlank{"ZDB_AppendBlank", wire::Op("AppendBlank"), {}};
inline constexpr RequestSpec kWrite{"ZDB_Write", wire::Op("Write"), {}};
inline constexpr RequestSpec kDelete{"ZDB_Delete", wire::Op("Delete"), {Text(0)}};
inline constexpr RequestSpec kRecUnLock{"ZDB_RecUnLock", wire::Op("RecUnLock"), {Text(0)}};
// A full reply: the text comes back overwritten along with the 33-byte lock holder.
inline constexpr RequestSpec kWhoLock{
    "ZDB_WhoLock", wire::Op("WhoLock"), {Text(0), Fixed(1, kLockHolderSize)}};

// Transactions.
inline constexpr RequestSpec kBeginTransaction{
    "ZDB_BeginTransaction", wire::Op("BeginTransaction"), {}};
inline constexpr RequestSpec kEndTransaction{"ZDB_EndTransaction", wire::Op("EndTransaction"), {}};
inline constexpr RequestSpec kTRStatus{"ZDB_TRStatus", wire::Op("TRStatus"), {Counter(0)}};
inline constexpr RequestSpec kCommit{"ZDB_Commit", wire::Op("Commit"), {}};
inline constexpr RequestSpec kRollBack{"ZDB_RollBack", wire::Op("RollBack"), {}};

// Table and index maintenance.
inline constexpr RequestSpec kBackupTable{
    "ZDB_BackupTable", wire::Op("BackupTable"), {Text(0), Text(1)}};
inline constexpr RequestSpec kRestoreTable{
    "ZDB_RestoreTable", wire::Op("RestoreTable"), {Text(0), Text(1)}};
inline constexpr RequestSpec kCreateIndex{
    "ZDB_CreateIndex", wire::Op("CreateIndex"), {Text(0), Text(1), Text(2)}};
inline constexpr RequestSpec kEraseIndex{"ZDB_EraseIndex", wire::Op("EraseIndex"), {Text(0)}};
inline constexpr RequestSpec kRebuildIndex{"ZDB_RebuildIndex", wire::Op("RebuildIndex"), {Text(0)}};
inline constexpr RequestSpec kCompactTable{"ZDB_CompactTable", wire::Op("CompactTable"), {Text(0)}};
inline constexpr RequestSpec kClearTable{
    "ZDB_ClearTable", wire::Op("ClearTable"), {Text(0), Value16(1)}};
inline constexpr RequestSpec kFFCopy{"ZDB_FFCopy", wire::Op("FFCopy"), {Text(0), Text(1)}};
inline constexpr RequestSpec kXRefTest{"ZDB_XRefTest", wire::Op("XRefTest"), {Text(0), Text(1)}};

}  // namespace zdb::tables
