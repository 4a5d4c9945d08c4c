// A client's SQL script runs under guard, so that the catalog stays true whatever it does:
// - an authorizer refuses writes to zdbd's own metadata tables and every statement that would
//   change table definitions behind the catalog's back (tables, columns, views, triggers,
//   indexes of the main database), attached files and pragmas that set something;
// - temporary triggers check every value a script writes into a ZDB table against the field's
//   type, width and constraints and its cross references, and carry out the delete rules of the
//   cross references, exactly as the record requests do.
#pragma once

#include <string>
#include <vector>

#include "sqlite_db.h"

struct sqlite3;

namespace zdbd {

class ScriptGuard {
 public:
  // `inTransaction`: the session has a transaction open, so the script may not end or nest one.
  ScriptGuard(Db& db, bool inTransaction);
  ~ScriptGuard();
  ScriptGuard(const ScriptGuard&) = delete;
  ScriptGuard& operator=(const ScriptGuard&) = delete;

  bool Ready() const { return ready_; }
  // Why the guard stopped the script (empty when it did not).
  const std::string& Refusal() const { return refusal_; }
  void Refuse(const std::string& why) {
    if (refusal_.empty()) refusal_ = why;
  }
  bool InTransaction() const { return inTransaction_; }
  const std::vector<std::string>& Tables() const { return tables_; }

 private:
  bool InstallTriggers();
  Db& db_;
  bool inTransaction_;
  bool ready_ = false;
  std::string refusal_;
  std::vector<std::string> triggers_;
  std::vector<std::string> tables_;  // the database's ZDB tables when the script began
};

// The decision of the authorizer for one action (SQLite's action code and its two texts): empty
// when allowed, else the reason. Pure, so that it can be tested on its own.
std::string ScriptActionRefusal(int action, const char* a, const char* b, const char* database,
                                bool inTransaction,
                                const std::vector<std::string>* tables = nullptr);

// On PostgreSQL a script runs on a connection of its own, where a COMMIT would end nothing of the
// session's: while the session's transaction is open, transaction statements are refused as on
// SQLite. Empty when the script may run, else the reason.
std::string TransactionStatementRefusal(const std::string& script, bool inTransaction);

}  // namespace zdbd
