// The catalog walk shared by dump, load and the shell: databases, tables, field definitions
// and whole records, through the library's public calls only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zdb/script_rows.h"

namespace zdb::cli {

struct FieldDef {
  std::string name;
  char type = 'C';
  char subtype = ' ';  // ' ' when the definition has none
  uint32_t width = 0;
};

// Each returns the library's ResultCode (1000 on success).
int32_t ListDatabases(std::vector<std::string>* names);
int32_t ListTables(std::vector<std::string>* names);  // of the selected database
int32_t UseDatabase(const std::string& db);           // in use and selected
int32_t OpenTable(const std::string& table);          // open and selected
int32_t TableFields(std::vector<FieldDef>* fields);   // of the selected table
int32_t TableRecordCount(int64_t* count);             // of the selected table

// "NAME C 20; PRICE N 20; BORN C D 10": the field spec of a table creation.
std::string FieldSpec(const std::vector<FieldDef>& fields);
// Decodes a 43-byte FieldDef record; false at the end record.
bool DecodeFieldDef(const unsigned char* record, FieldDef* out);

// Reads whole records of the selected table: Read("FIRST") then Read("NEXT") (or any mode),
// each as one request. Owns the texts the library hands out.
class RecordReader {
 public:
  RecordReader();
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;
  // 1000 with the values in definition order; 4042 at either end; else the failure.
  int32_t Read(const std::string& mode, size_t fieldCount);
  // Seeks `field` = `value`, then reads the record found.
  int32_t Seek(const std::string& field, const std::string& value, size_t fieldCount);
  int32_t Current(size_t fieldCount);
  const std::vector<std::string>& values() const { return values_; }

 private:
  void Collect(size_t fieldCount);
  std::vector<char*> raw_;
  std::vector<std::string> values_;
};

// Memo and binary fields: their record-buffer slot holds 255 characters whatever the value.
bool IsMemoLike(const FieldDef& f);

// The value of one field of the current record through single-field calls, so that nothing is
// cut: null told apart (IsNull), memos of any length, binary values with their zero bytes,
// numbers as 8-byte doubles. ResultCode.
int32_t ReadWholeField(const FieldDef& f, Cell* out);

// True for the statuses that mean "no record there" when reading.
bool IsNoRecord(int32_t status);

}  // namespace zdb::cli
