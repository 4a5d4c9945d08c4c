// The rules a table's data obeys beyond its field definitions: constraints and default values per
// field, and cross references between a field of one table and a key of another. They live in
// metadata tables of the database file, so they travel with exports and backups, and every write
// path (single values, whole records, appends, copies, deletes, scripts) goes through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sqlite_db.h"
#include "values.h"

namespace zdbd {

// Kinds: 'M' a value is required, 'R' range v1..v2 (either may be empty), 'L' one of the
// comma-separated values of v1, 'P' matches the glob pattern v1, 'U' no two records share it.
struct Constraint {
  int number = 0;
  std::string field;
  char kind = 'M';
  std::string v1, v2, description;
};

// Kind 'F': the from-field's value must equal the to-field's value of some record of the to-table.
// Kind 'T': the from-field holds a record number of the to-table (to-field empty). Rule on delete
// of a referenced record: RESTRICT (refused), CASCADE (referencing records deleted too) or NULLIFY
// (their from-field emptied).
struct Xref {
  std::string name;
  char kind = 'F';
  std::string fromTable, fromField, toTable, toField, rule = "RESTRICT", description;
};

bool EnsureRuleCatalog(Db& db);

// ---- constraints and defaults --------------------------------------------------------------
std::vector<Constraint> Constraints(Db& db, const std::string& table, const std::string& field);
// Checks the definition (kind, values parse for the field); kOk or kBadFieldDefinition.
int32_t CheckConstraintDefinition(const FieldInfo& f, const Constraint& c);
// Adds (number 0: the next free one), replaces or deletes (number 0: all of the field's).
int32_t AddConstraint(Db& db, const std::string& table, Constraint* c);
int32_t ReplaceConstraint(Db& db, const std::string& table, const Constraint& c);
int32_t DeleteConstraint(Db& db, const std::string& table, const std::string& field, int number);
bool GetDefault(Db& db, const std::string& table, const std::string& field, std::string* value);
int32_t SetDefault(Db& db, const std::string& table, const std::string& field,
                   const std::string& value, bool remove);

// ---- cross references ----------------------------------------------------------------------
std::vector<Xref> Xrefs(Db& db);  // all of the database, in name order
int32_t AddXref(Db& db, const Xref& x);
int32_t DeleteXref(Db& db, const std::string& name);

// ---- enforcement ---------------------------------------------------------------------------
// Checks new values of the listed fields of record `rowid` (0: a record not stored yet) against
// the field's constraints and the cross references on both sides.
int32_t CheckValues(Db& db, const std::string& table, int64_t rowid,
                    const std::vector<FieldInfo>& fields, const std::vector<Value>& values);
// Appends a record: listed values, defaults for the other fields, every rule checked.
int32_t InsertRecord(Db& db, const std::string& table, const std::vector<FieldInfo>& fields,
                     const std::vector<Value>& values, int64_t* rowid);
// Deletes a record, applying the delete rule of every cross reference that points at it.
int32_t DeleteRecord(Db& db, const std::string& table, int64_t rowid);
// Deletes every record of a table; record by record under the delete rules when cross
// references point at the table, all or nothing.
int32_t ClearRecords(Db& db, const std::string& table);
// Records of `table` whose value has no match for cross reference `x`.
int64_t DanglingCount(Db& db, const Xref& x);

// Keeps the rule catalog in step with table and field changes.
bool RulesRenameTable(Db& db, const std::string& from, const std::string& to);
bool RulesDropTable(Db& db, const std::string& table);
bool RulesRenameField(Db& db, const std::string& table, const std::string& from,
                      const std::string& to);
bool RulesDropField(Db& db, const std::string& table, const std::string& field);

}  // namespace zdbd
