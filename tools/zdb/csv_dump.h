// Reading a CSV dump folder back: it becomes an SQLite dump, which zdb load then checks and
// writes like any other, so both forms travel one road.
#pragma once

#include <string>
#include <vector>

namespace zdb::cli {

struct CsvValue {
  std::string text;
  bool quoted = false;  // "" is an empty text, an empty unquoted field null
};

// Splits the next record of RFC 4180 text at `pos` (which it advances); false at the end or,
// with `why` set, when the text is malformed.
bool NextCsvRecord(const std::string& data, size_t* pos, std::vector<CsvValue>* fields,
                   std::string* why);

// Writes the SQLite dump that holds what the CSV dump folder `dir` holds. False after a
// message naming the file and line at fault.
bool CsvDumpToSqlite(const std::string& dir, const std::string& sqlitePath);

}  // namespace zdb::cli
