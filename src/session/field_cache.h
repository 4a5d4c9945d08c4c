// The per-Session cache of field definitions: up to five databases in use, up to 25 selected
// tables each, every table's complete FieldDefList held in one block.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <memory>

#include "wire/field_def.h"

namespace zdb {

inline constexpr int kCacheDatabases = 5;
inline constexpr int kCacheTables = 25;
inline constexpr uint8_t kNoTableSelected = 255;
inline constexpr int8_t kNoDatabaseSelected = -1;
inline constexpr size_t kTableNameWidth = 32;
inline constexpr size_t kDatabaseNameWidth = 8;

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

  bool Free() const { return name[0] == 0; }
  void EmptyPlaces() {
    for (auto& t : tables) t.reset();
  }
  void Clear() {
    selectedTable = 0;
    std::fill(std::begin(name), std::end(name), '\0');
    EmptyPlaces();
  }
};

struct FieldCache {
  int8_t selectedDatabase = 0;
  std::array<DatabaseEntry, kCacheDatabases> databases;

  // The selected entry, or null when none is selected.
  DatabaseEntry* Selected();
};

// Name keys: the name left-aligned and space-padded to its width, with a zero byte. A name
// longer than the width has no key (false): it is refused, never cut.
using TableKey = std::array<char, wire::kNameKeySize>;
using DatabaseKey = std::array<char, wire::kDbKeySize>;
bool MakeTableKey(const char* name, TableKey* key);
bool MakeDatabaseKey(const char* name, DatabaseKey* key);

// The database entries, changed as the server accepted a database request.
// Records the database in the lowest free entry unless it is already recorded or all are taken.
void RecordDatabase(FieldCache& cache, const DatabaseKey& key);
// Empties the lowest entry holding the database; when it was the selected one, none is.
void ForgetDatabase(FieldCache& cache, const DatabaseKey& key);
// Selects the lowest entry holding the database; unknown databases leave the selection alone.
void SelectDatabase(FieldCache& cache, const DatabaseKey& key);

}  // namespace zdb
