// Where zdbd keeps its databases. Handlers speak to one storage interface, Db and Stmt (see
// sqlite_db.h), whose statements are written in the SQL both engines understand once the
// PostgreSQL engine has rewritten SQLite's few words of its own (pg_sql.h). Two engines sit
// behind it: SQLite, one file per database in the data directory (the default), and PostgreSQL,
// one schema per database in a PostgreSQL database that several zdbd processes may share.
#pragma once

#include <string>

namespace zdbd {

class Storage {
 public:
  // Chooses the engine for the whole process: empty for SQLite, else a libpq URI, whose
  // connections read text in `encoding` (see TextEncoding). False, with the reason, when
  // PostgreSQL is asked of a zdbd built without it.
  static bool Configure(const std::string& uri, const std::string& encoding, std::string* error);
  static bool Postgres();
  static const std::string& Uri();
  // Text reaches zdbd as bytes in the applications' 8-bit code page, which nothing converts on
  // the way. PostgreSQL keeps text as characters: its connections name the code page the bytes
  // are read in (PostgreSQL's name), so that every value comes back as the bytes it went in as.
  static const std::string& TextEncoding();
  // True when this zdbd was built with libpq.
  static bool PostgresBuilt();
  // The PostgreSQL schema that holds ZDB database `db`; "zdb_system" holds users and privileges.
  static std::string SchemaOf(const std::string& db);
};

}  // namespace zdbd
