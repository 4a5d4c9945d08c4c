// Record navigation, update and locks, transactions and table maintenance: requests the server
// alone gives meaning to. The library forwards the texts byte for byte, keeps no state and
// returns the server's code, so each member is its row here, run by ExecuteRequest.
#pragma once

#include "session/request_table.h"

namespace zdb::tables {

inline constexpr uint16_t kStatus = wire::kStatusOnly;
inline constexpr uint16_t kFull = wire::kPlain;
inline constexpr uint32_t kLockHolderSize = 33;

// Records and locks.
inline constexpr RequestSpec kDBLock{"ZDB_DBLock", kStatus, 7, 1, {Text(0)}};
inline constexpr RequestSpec kDBUnLock{"ZDB_DBUnLock", kStatus, 8, 1, {Text(0)}};
inline constexpr RequestSpec kDBIsLock{"ZDB_DBIsLock", kStatus, 9, 1, {Text(0)}};
inline constexpr RequestSpec kLockTable{"ZDB_LockTable", kStatus, 16, 1, {Text(0)}};
inline constexpr RequestSpec kSeek{"ZDB_Seek", kStatus, 22, 2, {Text(0), Text(1)}};
inline constexpr RequestSpec kRead{"ZDB_Read", kStatus, 23, 2, {Text(0), Text(1)}};
inline constexpr RequestSpec kAppendBlank{"ZDB_AppendBlank", kStatus, 24, 0, {}};
inline constexpr RequestSpec kWrite{"ZDB_Write", kStatus, 25, 0, {}};
inline constexpr RequestSpec kDelete{"ZDB_Delete", kStatus, 26, 1, {Text(0)}};
inline constexpr RequestSpec kRecUnLock{"ZDB_RecUnLock", kStatus, 135, 1, {Text(0)}};
// A full reply: the text comes back overwritten along with the 33-byte lock holder.
inline constexpr RequestSpec kWhoLock{
    "ZDB_WhoLock", kFull, 138, 2, {Text(0), Fixed(1, kLockHolderSize)}};

// Transactions.
inline constexpr RequestSpec kBeginTransaction{"ZDB_BeginTransaction", kStatus, 14, 0, {}};
inline constexpr RequestSpec kEndTransaction{"ZDB_EndTransaction", kStatus, 15, 0, {}};
inline constexpr RequestSpec kTRStatus{"ZDB_TRStatus", kFull, 17, 1, {Counter(0)}};
inline constexpr RequestSpec kCommit{"ZDB_Commit", kStatus, 18, 0, {}};
inline constexpr RequestSpec kRollBack{"ZDB_RollBack", kStatus, 19, 0, {}};

// Table and index maintenance.
inline constexpr RequestSpec kBackupTable{"ZDB_BackupTable", kStatus, 20, 2, {Text(0), Text(1)}};
inline constexpr RequestSpec kRestoreTable{"ZDB_RestoreTable", kStatus, 21, 2, {Text(0), Text(1)}};
inline constexpr RequestSpec kCreateIndex{
    "ZDB_CreateIndex", kStatus, 36, 3, {Text(0), Text(1), Text(2)}};
inline constexpr RequestSpec kEraseIndex{"ZDB_EraseIndex", kStatus, 37, 1, {Text(0)}};
inline constexpr RequestSpec kRebuildIndex{"ZDB_RebuildIndex", kStatus, 38, 1, {Text(0)}};
inline constexpr RequestSpec kCompactTable{"ZDB_CompactTable", kStatus, 115, 1, {Text(0)}};
inline constexpr RequestSpec kClearTable{"ZDB_ClearTable", kStatus, 117, 2, {Text(0), Value16(1)}};
inline constexpr RequestSpec kFFCopy{"ZDB_FFCopy", kStatus, 122, 2, {Text(0), Text(1)}};
inline constexpr RequestSpec kXRefTest{"ZDB_XRefTest", kStatus, 136, 2, {Text(0), Text(1)}};

}  // namespace zdb::tables
