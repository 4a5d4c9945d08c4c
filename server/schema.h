// The tables and fields of one ZDB database, kept in its SQLite file: every ZDB table is an SQLite
// table with one column per field, and the field definitions live in a metadata table beside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sqlite_db.h"
#include "values.h"

namespace zdbd {

// Names of tables and fields: a letter, then letters, digits or '_', at most `max` characters,
// and never our own metadata prefix.
bool IsValidName(const std::string& name, size_t max);

// The column type that stores a field on the connection's engine (with its width as a check
// on PostgreSQL).
std::string StorageType(Db& db, const FieldInfo& f);
bool EnsureCatalog(Db& db);
// Lists the indexes that files of the first zdbd hold under their old naming (ix_TABLE_INDEX).
bool AdoptOldIndexes(Db& db);
// Over PostgreSQL, makes every change to the catalog tables count (Users::CatalogGeneration).
bool CountCatalogChanges(Db& db);
bool TableExists(Db& db, const std::string& table);
std::vector<std::string> ListTables(Db& db);
// *ok (when given) is false when the read failed: the list is then incomplete, and no cache may
// keep it.
std::vector<FieldInfo> TableFields(Db& db, const std::string& table, bool* ok = nullptr);
std::string TableDescription(Db& db, const std::string& table);
int64_t RecordCount(Db& db, const std::string& table);

// Each returns a status (kOk, or why not).
int32_t CreateTable(Db& db, const std::string& table, const std::string& description,
                    const std::vector<FieldInfo>& fields);
int32_t DropTable(Db& db, const std::string& table);
int32_t RenameTable(Db& db, const std::string& from, const std::string& to);
int32_t SetTableDescription(Db& db, const std::string& table, const std::string& description);
int32_t AddField(Db& db, const std::string& table, FieldInfo field);
int32_t DropField(Db& db, const std::string& table, const std::string& field);
// Changes a field's definition; a new name renames its column.
int32_t UpdateField(Db& db, const std::string& table, const std::string& field, FieldInfo to);

// Indexes of a table by their ZDB names; the SQLite index behind each is named by zdbd.
struct IndexInfo {
  std::string name;
  std::string sqlName;
  bool unique = false;
  std::vector<std::string> fields;
};
std::vector<IndexInfo> TableIndexes(Db& db, const std::string& table);
// Creates or, with `replace`, redefines an index over existing fields; kIndexExists when it is
// there and `replace` is off, kConstraintViolated when a unique index meets duplicate values.
int32_t DefineIndex(Db& db, const std::string& table, const std::string& name,
                    const std::vector<std::string>& fields, bool unique, bool replace);
int32_t DropIndex(Db& db, const std::string& table, const std::string& name);
// Drops the indexes that include the field (before the field itself goes).
bool DropIndexesOn(Db& db, const std::string& table, const std::string& field);

// Parses "NAME C 20; PRICE N; BORN C D" (name, type, optional subtype, optional width).
bool ParseFieldSpec(const std::string& spec, std::vector<FieldInfo>* fields);

// Maps a failed SQLite call to a status: busy becomes kBusy, a broken uniqueness
// kConstraintViolated, the rest kInternal.
int32_t StorageFailure(Db& db);

}  // namespace zdbd
