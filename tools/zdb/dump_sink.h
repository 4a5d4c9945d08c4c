// Where zdb dump writes: an SQLite database or a folder of CSV files. Both are built under a
// temporary name beside the final one and renamed into place only when everything is written,
// so a failed dump never leaves a half file under the name asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zdb/catalog.h"
#include "zdb/script_rows.h"
#include "zdb/table_rules.h"

namespace zdb::cli {

struct DumpTable {
  std::string db, table, description;
  std::vector<FieldDef> fields;
};

class DumpSink {
 public:
  virtual ~DumpSink() = default;
  virtual bool BeginTable(const DumpTable& t) = 0;
  // The record number first, then the values in definition order.
  virtual bool Row(const CellRow& cells) = 0;
  virtual bool Rules(const std::vector<TableRule>& rules) = 0;
  virtual bool EndTable(int64_t records, uint64_t checksum) = 0;
  virtual bool Users(const std::vector<DumpUser>& users) = 0;
  // Renames the temporary name to the final one (replacing what is there only with `force`);
  // false after a message.
  virtual bool Commit() = 0;
};

// Null on failure (after a message). The temporary is removed unless committed.
std::unique_ptr<DumpSink> MakeSqliteSink(const std::string& path, bool force);
std::unique_ptr<DumpSink> MakeCsvSink(const std::string& dir, bool force);

// The SQLite table name of a ZDB table in a dump: "DB.TABLE".
std::string DumpTableName(const std::string& db, const std::string& table);
// The SQLite column type of a field definition.
const char* DumpColumnType(const FieldDef& f);
// The column of a dump's tables that holds the record number.
constexpr const char* kRecordColumn = "zdb_record";
std::string ChecksumText(uint64_t sum);

}  // namespace zdb::cli
