// The server's shared state: the data directory of ZDB databases, the server sessions keyed by
// their handles, the lock table and the user catalog.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "locks.h"
#include "log.h"
#include "options.h"
#include "shared_db.h"
#include "sqlite_db.h"
#include "users.h"
#include "values.h"

namespace zdbd {

// Database names: a letter, then letters, digits or '_', at most 8 characters.
bool IsValidDatabaseName(const std::string& name);

class DataDir {
 public:
  bool Open(const std::string& dir);
  const std::string& Dir() const { return dir_; }
  std::string PathOf(const std::string& db) const { return dir_ + "/" + db + ".zdb"; }
  bool Exists(const std::string& db) const;
  std::vector<std::string> List() const;
  int32_t Create(const std::string& db, const std::string& description);
  // Refused while another session has the database in use.
  int32_t Remove(const std::string& db, uint32_t byHandle);
  // Puts a file in place of a database (import); refused while the database is in use.
  int32_t Install(const std::string& db, const std::string& file, uint32_t byHandle);
  // The same over PostgreSQL: the file's database is copied into a fresh schema.
  int32_t InstallCopy(const std::string& db, const std::string& file, uint32_t byHandle);
  void NoteUse(const std::string& db, uint32_t handle, bool inUse);
  size_t Users(const std::string& db) const;

 private:
  bool UsedByOthers(const std::string& db, uint32_t handle) const;
  std::string dir_;
  mutable std::mutex mutex_;
  std::map<std::string, std::map<uint32_t, int>> uses_;
};

struct OpenTable {
  int64_t current = 0;  // record number (rowid); 0 none
  std::string table;    // the table behind an alias; empty when opened under its own name
};

// A table's field definitions as read at a catalog generation (see Db::CatalogGeneration).
struct CachedFields {
  uint64_t generation = 0;
  std::vector<FieldInfo> fields;
};

struct DbUse {
  // The connection of the running request (see RequestDbs): the database's shared one or `own`.
  Db* conn = nullptr;
  // The session's own connection: its transaction (14) and its scripts run there.
  std::unique_ptr<Db> own;
  std::shared_ptr<SharedDb> shared;  // the database's shared connection, as last looked up
  std::map<std::string, OpenTable> tables;
  std::string selectedTable;
  // The record path looks up fields on every request; reading them from the metadata table
  // each time cost more than the request itself.
  std::map<std::string, CachedFields> fieldCache;
  const std::vector<FieldInfo>& Fields(const std::string& table);
};

struct ServerSession {
  uint32_t handle = 0;
  std::string user;  // empty: anonymous
  bool admin = false;
  bool ended = false;
  bool runSession = false;
  std::chrono::steady_clock::time_point lastUse;
  std::map<std::string, DbUse> dbs;
  std::string selectedDb;
  std::string txDb;  // the database whose transaction is open, empty for none
  std::string lastSqlError;
  std::string lastDiskFull;  // the system's reason behind the last kDiskFull
  std::mutex mutex;          // held while a request of this session runs
};

class SessionTable {
 public:
  // Null when `max` sessions are live already: the login is refused, no session is pushed out.
  // Also null when a handle cannot be claimed (ClaimWith).
  // *atLimit (when given) tells a refusal at the limit from a handle that could not be claimed.
  std::shared_ptr<ServerSession> Create(const std::string& user, bool admin, size_t max,
                                        bool* atLimit = nullptr);
  // Several instances share one handle space: a new handle must be claimed through `claim`.
  void ClaimWith(std::function<Claim(uint32_t)> claim) { claim_ = std::move(claim); }
  std::shared_ptr<ServerSession> Find(uint32_t handle);
  std::shared_ptr<ServerSession> Remove(uint32_t handle);
  // Takes out the sessions unused for `idle`. A session with a request running is in use
  // however old its last request is, and is never waited for: the caller is the main loop.
  std::vector<std::shared_ptr<ServerSession>> TakeIdle(std::chrono::steady_clock::duration idle);
  std::vector<std::shared_ptr<ServerSession>> TakeAll();
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<ServerSession>> sessions_;
  std::function<Claim(uint32_t)> claim_;
};

// A handle from the system's random source, never 0 nor 0xFFFFFFFF.
uint32_t RandomHandle();

struct Server {
  Options options;
  DataDir data;
  SharedDbs shared;
  LockTable locks;
  Users users;
  SessionTable sessions;
  std::atomic<bool> stopping{false};
  std::atomic<uint64_t> requests{0};

  // Ends a session: waits for its running request, rolls back its transaction, lets go of its
  // locks and databases.
  void EndSession(const std::shared_ptr<ServerSession>& s, const char* why);
};

}  // namespace zdbd
