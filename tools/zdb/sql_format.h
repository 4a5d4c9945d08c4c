// Script parameters and the forms the rows of a script run can take.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "zdb/script_rows.h"

namespace zdb::cli {

// The value as an SQL literal that survives the library's parameter text: quotes are doubled,
// and a value holding ';', '&' or control bytes (which would end or start a parameter item)
// travels as a hex blob cast to text.
std::string SqlLiteral(const std::string& value);

// "&1='a';&2='b'" from NAME=VALUE items whose names are parameter numbers. On a bad item
// returns false with the reason.
bool BuildParameterText(const std::vector<std::string>& items, std::string* text, std::string* why);

using Row = std::vector<std::string>;

std::string CsvField(const std::string& v);
std::string JsonString(const std::string& v);
// One value in a CSV file: null is an empty field, an empty text a quoted one, a blob \x and
// its hex; quotes only where RFC 4180 needs them.
std::string CsvCell(const Cell& cell);
// One value in JSON: null, a number in its shortest exact form (infinities as 1e999 and
// -1e999, which read back as such), a string, or a blob as the string \x and its hex.
std::string JsonCell(const Cell& cell);

// Writes the rows a script run left in `in` in "csv" (a header line of column names before
// each statement's rows) or "json" (one array of objects, or of arrays when the server named
// no columns). Returns the number of rows, or -1 after setting `why` when a line is malformed.
int64_t WriteRows(ScriptRowReader& in, const std::string& format, std::FILE* out, std::string* why);

// Rows as a table with aligned columns (the shell's form); `header` may be empty.
std::string AlignedTable(const Row& header, const std::vector<Row>& rows);

}  // namespace zdb::cli
