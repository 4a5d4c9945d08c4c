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

}  // namespace zdb
