// The per-Session cache of field definitions: up to five databases in use, up to 25 selected
// tables each, every table's complete FieldDefList held in one block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "wire/field_def.h"

namespace zdb {

inline constexpr int kCacheDatabases = 5;
inline constexpr int kCacheTables = 25;
inline constexpr uint8_t kNoTableSelected = 255;

// A table's name key (33 bytes) followed by its FieldDefList (12900 bytes).
struct TableDefBlock {
  uint8_t bytes[wire::kNameKeySize + wire::kFieldDefListSize];
  char* key() { return reinterpret_cast<char*>(bytes); }
  uint8_t* fieldDefs() { return bytes + wire::kNameKeySize; }
};

struct DatabaseEntry {
  uint8_t selectedTable = 0;
  char name[wire::kDbKeySize] = {};  // "%-8s"; a zero first byte marks the entry free
  std::array<std::unique_ptr<TableDefBlock>, kCacheTables> tables;

  void Clear() {
    selectedTable = 0;
    name[0] = 0;
    for (auto& t : tables) t.reset();
  }
};

struct FieldCache {
  int8_t selectedDatabase = 0;
  std::array<DatabaseEntry, kCacheDatabases> databases;
};

class Session;

// The cache operations, all on the calling thread's own Session. Table names are keyed with
// "%-32s", field names likewise after trimming, letter case significant. `index` receives the
// table place on 1000.
int32_t FindTable(Session& s, const char* table, uint8_t* index);
int32_t AddTable(Session& s, const char* table, uint8_t* index);
int32_t DropTable(Session& s, const char* table, uint8_t* index);

// Field definitions of the listed fields ("*" or names separated by ",") into a 12900-byte
// buffer: from the selected table's cached block when there is one, otherwise from the server
// (opcode 63). The list is sent in a full reply and so overwritten: pass writable memory.
// Also stored as the Session's lastResult.
int32_t LookupFieldDefs(Session& s, char* fieldList, uint8_t* out);
int32_t CopyCachedFieldDefs(Session& s, const char* fieldList, uint8_t* out);

}  // namespace zdb
