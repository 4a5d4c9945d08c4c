// Script parameters and the forms the rows of a script run can take. The server sends each
// row as its columns separated by tabs and ended by a newline.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zdb::cli {

// The value as an SQL literal that survives the library's parameter text: quotes are doubled,
// and a value holding ';', '&' or control bytes (which would end or start a parameter item)
// travels as a hex blob cast to text.
std::string SqlLiteral(const std::string& value);

// "&1='a';&2='b'" from NAME=VALUE items whose names are parameter numbers. On a bad item
// returns false with the reason.
bool BuildParameterText(const std::vector<std::string>& items, std::string* text, std::string* why);

using Row = std::vector<std::string>;
std::vector<Row> ParseRows(const std::string& tsv);

std::string CsvField(const std::string& v);
std::string JsonString(const std::string& v);
// Writes the rows in "tsv", "csv" or "json"; returns the number of rows.
size_t WriteRows(const std::string& tsv, const std::string& format, std::FILE* out);

// Rows as a table with aligned columns (the shell's form); `header` may be empty.
std::string AlignedTable(const Row& header, const std::vector<Row>& rows);

}  // namespace zdb::cli
