// The PostgreSQL engine behind Db and Stmt: one libpq connection whose search path is the schema
// of one ZDB database, statements prepared once per connection, statement-level atomicity inside
// transactions as SQLite has it, and PostgreSQL's errors read as SQLite's primary codes so that
// the handlers judge failures the same way on both engines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "values.h"

namespace zdbd {

class PgConn;

class PgStmt {
 public:
  PgStmt(PgConn& conn, const std::string& sql);
  ~PgStmt();
  PgStmt(const PgStmt&) = delete;
  PgStmt& operator=(const PgStmt&) = delete;
  bool Ok() const { return ok_; }
  void Bind(int i, const Value& v);
  bool Step();  // a row: true; done or failed: false (Failed())
  bool Failed() const { return failed_; }
  int Columns() const;
  std::string ColumnName(int i) const;
  Value Get(int i) const;

 private:
  PgConn& conn_;
  std::string sql_, name_;
  bool ok_ = false, failed_ = false, ran_ = false, insert_ = false, skip_ = false;
  bool reads_ = false;    // a plain SELECT
  bool counted_ = false;  // in conn_.live_
  std::string control_;   // BEGIN, COMMIT, ROLLBACK, SAVEPOINT, RELEASE: run as they are
  int params_ = 0;
  std::vector<Value> binds_;
  void* result_ = nullptr;  // PGresult
  int row_ = -1;
};

class PgConn {
 public:
  ~PgConn();
  // Connects to the configured server with `schema` as the search path, making the schema when
  // `create`; null with the reason in *error.
  static std::unique_ptr<PgConn> Connect(const std::string& schema, bool create,
                                         std::string* error);
  static bool SchemaExists(const std::string& schema, std::string* error);
  // The ZDB database schemas there are, in name order (without their prefix).
  static std::vector<std::string> ListSchemas(const std::string& prefix);
  static bool DropSchema(const std::string& schema, std::string* error);
  // Cancels every script running now and refuses those that would start.
  static void InterruptAll();
  // Closes the connections that carry reads of several sessions together to the database of
  // `schema` (see PgBatches): it is being closed.
  static void CloseBatches(const std::string& schema);
  // The count of definition changes this zdbd last read from the catalog. A connection whose
  // statements were prepared under another count prepares them again: PostgreSQL keeps the
  // column and parameter types a statement was first planned with, and a field dropped and
  // added again under its name with another type leaves the statement's text as it was.
  static void NoteDefinitions(int64_t generation);
  // PostgreSQL's message for the last statement of this thread that failed (empty when none
  // has since the last call), cleared as it is taken.
  static std::string TakeThreadError();

  // The check that lets a request trust what this zdbd last knew of the catalog (whether users
  // exist, the count of definition changes, as `expected`): the request's first statement on a
  // database carries it in the same round trip, and a catalog that moved fails that statement
  // and every later one of the request (Stale()) before any of them changed anything, so that
  // the request can be carried out again with what is current. Per thread, for its request.
  static void ArmCheck(int64_t expected);
  static bool CheckArmed();  // armed and not yet carried out
  static int64_t Expected();
  static bool Stale();
  static void EndCheck();
  // A trusted request's look at the locks before a write (LockTable::CheckWrite): over
  // PostgreSQL the lock table is in the same database, so the write's round trip carries it,
  // and a lock held by another session (or a session its instance lost) fails the write before
  // it changes anything (LocksRefused()); the request is then carried out again with the look
  // made on its own, which names the lock. False when the look cannot be deferred.
  static bool DeferLocks(const std::vector<std::string>& keys, uint32_t handle);
  // Keys deferred that no write has carried yet: the caller looks itself.
  static bool LocksPending(std::vector<std::string>* keys, uint32_t* handle);
  static bool LocksRefused();
  // The request writes once, as its last statement: a request transaction that has sent
  // nothing yet lets that write commit by itself, in the round trip that carries it.
  static void SoleWrite(bool on);
  // Opens a request's transaction on a shared connection: its BEGIN leaves with the first
  // statement that needs it (never with a sole write).
  void BeginRequest();
  // Ends it: commits what it sent (nothing when it only read or its sole write committed
  // itself); false when the commit failed.
  bool EndRequest();

  bool Exec(const std::string& sql);
  bool Native(const std::string& sql) { return Simple(sql); }
  bool RunScript(const std::string& script,
                 const std::function<bool(const std::vector<std::string>&)>& columns,
                 const std::function<bool(const std::vector<Value>&)>& row);
  std::string Error() const { return error_; }
  int ErrorCode() const { return code_; }
  int64_t LastRowId() const { return lastRowId_; }
  int Changes() const { return changes_; }
  // True from a BEGIN on, also before that BEGIN has reached the server.
  bool InTransaction() const;
  bool Broken() const;
  // Statements sent to the server since the connection opened: the cost of a request is
  // counted in round trips.
  uint64_t RoundTrips() const { return roundTrips_; }

 private:
  friend class PgStmt;
  friend class PgBatches;
  PgConn() = default;
  // Runs one translated statement without parameters, inside a savepoint when a transaction is
  // open so that its failure does not end the transaction.
  bool ExecOne(const std::string& sql);
  static bool IsControl(const std::string& sql);
  bool Simple(const std::string& sql);  // one round trip, any number of statements
  // The prepared statement's name for a SQLite statement's text; empty when it cannot be
  // prepared.
  std::string Prepared(const std::string& sql, int* params, bool* insert, bool* skip, bool* reads);
  void NoteError(void* result);
  std::string UpsertClause(const std::string& table);
  bool Reconnect();
  bool ServerTransaction() const;  // the server's own view
  bool pendingBegin_ = false;      // a BEGIN that leaves with the next statement
  bool requestTx_ = false;         // that BEGIN is a request's, not a session's transaction
  bool autocommitted_ = false;     // the request's transaction ended with its sole write
  // The statement of the check ArmCheck arms, prepared on this connection; empty when it cannot be.
  std::string CheckStatement();
  // The plain SELECT `sql` with the check folded into its own text (its last parameter the count
  // the request trusts), prepared on this connection: a read costs one statement, not two.
  // Empty when it cannot be.
  std::string CheckedRead(const std::string& sql);
  // The check on its own, for a statement that cannot carry it; false when it failed or found
  // the catalog moved.
  bool CheckAlone();
  bool Refuse();  // a statement of a request found stale: not sent
  bool ScriptLogin(std::string* role, std::string* password);
  void* conn_ = nullptr;  // PGconn
  std::string schema_;
  struct Prep {
    std::string name;
    int params = 0;
    bool insert = false, skip = false, reads = false;
    std::string text;     // as PostgreSQL got it
    std::string checked;  // CheckedRead's statement, once prepared
    std::string checkedText;
  };
  std::unordered_map<std::string, Prep> prepared_;
  // Forgets the statements prepared under an earlier count of definition changes; their names
  // are deallocated once no statement of this connection is alive outside a transaction.
  void Renew();
  int64_t preparedAt_ = 0;            // the count the statements of prepared_ were made under
  std::vector<std::string> retired_;  // names forgotten, still allocated on the server
  uint64_t named_ = 0;                // names given so far: a new one never meets a retired one
  int live_ = 0;                      // PgStmt objects on this connection now
  std::string error_;
  int code_ = 0;
  int64_t lastRowId_ = 0;
  int changes_ = 0;
  uint64_t roundTrips_ = 0;
  // A SAVEPOINT given outside a transaction begins one, as SQLite does; its RELEASE commits.
  std::string implicitSavepoint_;
};

}  // namespace zdbd
