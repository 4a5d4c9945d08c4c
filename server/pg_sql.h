// The PostgreSQL engine's reading of the SQL the handlers write: the handlers' statements use
// SQLite's dialect where the two differ in a word (rowid, ? parameters, INSERT OR REPLACE, GLOB,
// column types), and this rewrites them into PostgreSQL's. Pure text work, no connection.
#pragma once

#include <string>
#include <vector>

namespace zdbd {

struct PgSql {
  std::string text;        // PostgreSQL's statement, parameters as $1..$n
  int params = 0;          // how many ? it had
  bool skip = false;       // SQLite-only (PRAGMA): nothing to run
  bool insert = false;     // an INSERT: RETURNING rowid gives the new row's number
  std::string upsertInto;  // INSERT OR REPLACE: the table, whose key the engine looks up
  bool createTable = false;
};

// ASCII lower case: PostgreSQL's name for a table, field or index of zdbd's.
std::string Lower(std::string s);

// Rewrites one statement.
PgSql TranslateForPostgres(const std::string& sqlite);

// The natural PostgreSQL column type of a field, with its width as a check: text, double
// precision, a whole-number domain, bytea; dates are text checked as dates (see docs/server.md).
std::string PgColumnType(char type, char subtype, unsigned width, const std::string& quotedName);

// What a numeric text (subtype N) holds when it is not empty: a decimal number, as PostgreSQL's
// regular expression.
inline constexpr const char* kPgNumberPattern =
    "^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$";

// SQLite's GLOB, for the engine that has none: * any run, ? one character, [...] a class
// (ranges, ^ negates), case counts.
bool GlobMatch(const std::string& pattern, const std::string& text);

// Splits a script at the semicolons outside quotes, comments and dollar quotes.
std::vector<std::string> SplitStatements(const std::string& script);

}  // namespace zdbd
