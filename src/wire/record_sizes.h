// Widths of the fixed records and list entries the protocol carries, which the library passes
// through unchanged: one home for the library, its request tables and the tool, checked at
// compile time against the public header's #defines.
#pragma once

#include <cstddef>

#include "zdb_api.h"

namespace zdb::wire {

inline constexpr size_t kFieldDefSize = 43;
inline constexpr size_t kMaxFields = 300;
inline constexpr size_t kFieldDefListSize = kFieldDefSize * kMaxFields;  // 12900
inline constexpr size_t kNameKeySize = 33;  // "%-32s" and its zero byte
inline constexpr size_t kDbKeySize = 9;     // "%-8s" and its zero byte
inline constexpr size_t kFieldDescriptorSize = 132;
inline constexpr size_t kTableRecordSize = 113;
inline constexpr size_t kDatabaseRecordSize = 773;
inline constexpr size_t kConstraintRecordSize = 364;
inline constexpr size_t kXrefRecordSize = 297;
inline constexpr size_t kUserEntrySize = 65;
inline constexpr size_t kAccountEntrySize = 12;
inline constexpr size_t kErrorTextSize = 129;
inline constexpr size_t kValueTextSize = 513;

static_assert(kFieldDefSize == ZDB_FIELD_DEF_SIZE && kMaxFields == ZDB_FIELD_DEF_MAX);
static_assert(kFieldDefListSize == ZDB_FIELD_DEF_LIST_SIZE);
static_assert(kNameKeySize == ZDB_TABLE_NAME_SIZE && kDbKeySize == ZDB_DATABASE_NAME_SIZE);
static_assert(kFieldDescriptorSize == ZDB_FIELD_DESCRIPTOR_SIZE);
static_assert(kTableRecordSize == ZDB_TABLE_RECORD_SIZE);
static_assert(kDatabaseRecordSize == ZDB_DATABASE_RECORD_SIZE);
static_assert(kConstraintRecordSize == ZDB_CONSTRAINT_RECORD_SIZE);
static_assert(kXrefRecordSize == ZDB_XREF_RECORD_SIZE);
static_assert(kUserEntrySize == ZDB_USER_NAME_SIZE && kAccountEntrySize == ZDB_ACCOUNT_SIZE);
static_assert(kErrorTextSize == ZDB_ERROR_TEXT_SIZE && kValueTextSize == ZDB_DEFAULT_VALUE_SIZE);

}  // namespace zdb::wire
