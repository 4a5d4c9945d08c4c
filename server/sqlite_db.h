// The storage interface the handlers speak to: one connection to one ZDB database, prepared
// statements, values in and out. A connection is SQLite's (a file) or, when zdbd keeps its data in
// PostgreSQL, the PostgreSQL engine's (pg_db.h); the statements are SQLite's dialect, which that
// engine rewrites.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "values.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zdbd {

class Stmt;
class PgConn;
class PgStmt;
class PgConn;
class PgStmt;

// A write statement that completed inside a transaction, with the values bound to it, kept so
// that the transaction can be carried out again should its commit fail.
struct JournalEntry {
  std::string sql;
  std::vector<Value> binds;
  bool exec = false;  // run through Exec (DDL), nothing bound
};

class Db {
 public:
  Db();
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // Opens (or with `create`, creates) the file; WAL journal, short busy wait.
  bool Open(const std::string& path, bool create);
  // Opens the PostgreSQL schema (made with `create`); false with the reason in Error().
  bool OpenPostgres(const std::string& schema, bool create);
  // The storage of ZDB database `name`: its file `path` or, over PostgreSQL, its schema.
  bool OpenDatabase(const std::string& name, const std::string& path, bool create);
  bool Postgres() const { return pg_ != nullptr; }
  PgConn* Pg() const { return pg_.get(); }
  // For every connection opened from now on: with `full`, each commit reaches the disk before
  // it is answered (synchronous=FULL); otherwise a commit survives a crash of zdbd but the last
  // ones may be lost when the machine itself fails (synchronous=NORMAL in WAL).
  static void SetDurability(bool full);
  static bool Durable();
  // Makes every running and future statement fail at once: the server is stopping and a
  // statement that never ends (an endless script) must not keep it alive.
  static void InterruptAll();
  // A number that grows after every change that may have touched the catalog of any database
  // (zdbd's metadata tables, a script, a commit, a file put in place). A copy of metadata read
  // after taking the number is current for as long as the number stays the same.
  static uint64_t CatalogGeneration();
  static void CatalogChanged();
  bool IsOpen() const { return db_ != nullptr || pg_ != nullptr; }
  // Runs statements without results; false with the message in Error() on failure.
  bool Exec(const std::string& sql);
  // Runs PostgreSQL's own SQL as it is, names untouched (schemas, settings); Exec on SQLite.
  bool ExecNative(const std::string& sql);
  std::string Error() const;
  int ErrorCode() const;  // the primary SQLite result code of the last failure
  int64_t LastRowId() const;
  int Changes() const;
  bool InTransaction() const;
  // SQLite only: when the open transaction has read but written nothing, ends it and begins
  // another, so that its next statements see what is committed now. A transaction that read
  // before another connection's commit can never write after it (SQLite answers busy for as long
  // as it lives), and one that wrote nothing loses nothing by starting again. False when there
  // was no such transaction, or over PostgreSQL, whose statements each see the latest commits.
  bool RestartUnwritten();
  // Runs every statement of a script: a statement that returns columns hands their names to
  // `columns` once, before its rows, then each result row to `row` as stored; false with the
  // message in Error() when a statement fails. Either callback stops the script by returning
  // false.
  using ColumnsFn = std::function<bool(const std::vector<std::string>&)>;
  using RowFn = std::function<bool(const std::vector<Value>&)>;
  bool RunScript(const std::string& script, const ColumnsFn& columns, const RowFn& row);
  sqlite3* Handle() const { return db_; }

  // With `on`, every write statement completed inside a transaction is appended to Journal();
  // the owner clears it once the transaction is committed.
  void KeepJournal(bool on) { journaling_ = on; }
  bool Journaling() const { return journaling_; }
  std::vector<JournalEntry>& Journal() { return journal_; }
  // Runs the entries again, in order, in the transaction open now (nothing is journaled while
  // they run); false with the message in Error() when one fails.
  bool Replay(const std::vector<JournalEntry>& entries);
  // True once a statement or a commit met a full disk (or SQLite's page limit) since the last
  // call; clears the mark.
  bool TakeFull();
  // The system's reason for the last failed write: the operating system's text when it gave
  // one (ENOSPC), else SQLite's message.
  std::string FullReason() const;
  void NoteResult(int rc);
  // Holds the connection to the page count in the file that ZDBD_PAGE_LIMIT_FILE names, when
  // that is set: tests that cannot mount a small file system fill SQLite's own limit instead,
  // and give the space back by raising the number in the file. Nothing otherwise.
  void ApplyPageLimit();

 private:
  bool RunStatements(const std::string& script, const ColumnsFn& columns, const RowFn& row);
  friend class Stmt;
  // Prepared statements by their text, kept for the next request: preparing costs more than
  // running the small statements of the record path. A statement in use is not in the cache;
  // one needed twice at once is prepared again.
  sqlite3_stmt* TakePrepared(const std::string& sql);
  void GiveBack(const std::string& sql, sqlite3_stmt* stmt);
  sqlite3* db_ = nullptr;
  std::unique_ptr<PgConn> pg_;
  std::string pgError_;  // why OpenPostgres failed
  bool journaling_ = false;
  bool sawFull_ = false;
  std::vector<JournalEntry> journal_;
  std::mutex cacheMutex_;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class Stmt {
 public:
  Stmt(Db& db, const std::string& sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool Ok() const;
  Stmt& Bind(int i, const std::string& text);
  Stmt& Bind(int i, int64_t v);
  Stmt& Bind(int i, const Value& v);
  // SQLITE_ROW true; done or failure false (see Failed()).
  bool Step();
  bool Failed() const { return failed_; }
  // Runs to completion; false on failure.
  bool Run();
  int Columns() const;
  std::string ColumnName(int i) const;
  std::string Text(int i) const;
  int64_t Int(int i) const;
  Value Get(int i) const;

 private:
  Db* db_ = nullptr;
  std::string sql_;
  bool touchesCatalog_ = false;
  sqlite3_stmt* stmt_ = nullptr;
  std::unique_ptr<PgStmt> pg_;
  bool failed_ = false;
  bool journaled_ = false;
  std::vector<Value> binds_;  // kept only on a journaling connection
  void Keep(int i, const Value& v);
};

// One read snapshot for the statements of a request (outside a transaction of the session's
// own): a whole-record read takes SQLite's locks once instead of once per statement.
class ReadTransaction {
 public:
  explicit ReadTransaction(Db& db);
  ~ReadTransaction();
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  Db& db_;
  bool began_ = false;
};

// SQLite's code for a statement its authorizer refused; the PostgreSQL engine gives it for a
// privilege PostgreSQL refused.
constexpr int kAuthCode = 23;

// SQLite's primary codes that mean another connection holds the write lock.
bool IsBusyCode(int code);

std::string QuoteIdent(const std::string& name);

}  // namespace zdbd
