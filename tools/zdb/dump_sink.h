// Where zdb dump writes: an SQLite database or a folder of CSV files. Both are built under a
// temporary name beside the final one and renamed into place only when everything is written,
// so a failed dump never leaves a half file under the name asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "zdb/catalog.h"

namespace zdb::cli {

class DumpSink {
 public:
  virtual ~DumpSink() = default;
  virtual bool BeginTable(const std::string& db, const std::string& table,
                          const std::vector<FieldDef>& fields) = 0;
  virtual bool Row(const std::vector<std::string>& values) = 0;
  virtual bool EndTable(int64_t records) = 0;
  // Renames the temporary name to the final one; false after a message.
  virtual bool Commit() = 0;
};

// Null on failure (after a message). The temporary is removed unless committed.
std::unique_ptr<DumpSink> MakeSqliteSink(const std::string& path);
std::unique_ptr<DumpSink> MakeCsvSink(const std::string& dir);

// The SQLite table name of a ZDB table in a dump: "DB.TABLE".
std::string DumpTableName(const std::string& db, const std::string& table);
// The SQLite column type of a field definition.
const char* DumpColumnType(const FieldDef& f);

}  // namespace zdb::cli
