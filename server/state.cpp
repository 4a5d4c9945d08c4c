#include "state.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "db_copy.h"
#include "log.h"
#include "metrics.h"
#include "pg_db.h"
#include "schema.h"
#include "status.h"
#include "storage.h"

namespace zdbd {

namespace fs = std::filesystem;

bool IsValidDatabaseName(const std::string& name) {
  return IsValidName(name, 8);
}

bool DataDir::Open(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  dir_ = dir;
  return fs::is_directory(dir, ec);
}

bool DataDir::Exists(const std::string& db) const {
  std::string error;
  if (Storage::Postgres())
    return IsValidDatabaseName(db) && PgConn::SchemaExists(Storage::SchemaOf(db), &error);
  struct stat st;
  return IsValidDatabaseName(db) && ::stat(PathOf(db).c_str(), &st) == 0;
}

std::vector<std::string> DataDir::List() const {
  std::vector<std::string> out;
  if (Storage::Postgres()) {
    for (const std::string& name : PgConn::ListSchemas(Storage::SchemaOf("")))
      if (IsValidDatabaseName(name)) out.push_back(name);
    return out;
  }
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir_, ec)) {
    if (e.path().extension() != ".zdb") continue;
    std::string name = e.path().stem().string();
    if (IsValidDatabaseName(name)) out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int32_t DataDir::Create(const std::string& db, const std::string& description) {
  if (!IsValidDatabaseName(db)) return kBadDatabaseName;
  std::lock_guard<std::mutex> lock(mutex_);
  if (Exists(db)) return kDatabaseExists;
  Db conn;
  if (!conn.OpenDatabase(db, PathOf(db), true) || !EnsureCatalog(conn)) return kInternal;
  conn.Exec("CREATE TABLE IF NOT EXISTS zdb_info(key TEXT PRIMARY KEY, value TEXT)");
  Stmt s(conn, "INSERT OR REPLACE INTO zdb_info VALUES('description', ?)");
  s.Bind(1, description);
  return s.Run() ? kOk : kInternal;
}

bool DataDir::UsedByOthers(const std::string& db, uint32_t handle) const {
  auto it = uses_.find(db);
  if (it == uses_.end()) return false;
  for (const auto& [h, n] : it->second)
    if (h != handle && n > 0) return true;
  return false;
}

namespace {
void RemoveDbFiles(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  fs::remove(path + "-wal", ec);
  fs::remove(path + "-shm", ec);
}
}  // namespace

int32_t DataDir::Remove(const std::string& db, uint32_t byHandle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exists(db)) return kDatabaseNotFound;
  if (UsedByOthers(db, byHandle)) return kDatabaseInUse;
  std::string error;
  if (Storage::Postgres() && !PgConn::DropSchema(Storage::SchemaOf(db), &error)) return kInternal;
  RemoveDbFiles(PathOf(db));
  Db::CatalogChanged();
  return kOk;
}

int32_t DataDir::Install(const std::string& db, const std::string& file, uint32_t byHandle) {
  if (!IsValidDatabaseName(db)) return kBadDatabaseName;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = uses_.find(db);
  if (it != uses_.end())
    for (const auto& [h, n] : it->second)
      if (n > 0 && h != byHandle) return kDatabaseInUse;
  RemoveDbFiles(PathOf(db));
  std::error_code ec;
  fs::rename(file, PathOf(db), ec);
  Db::CatalogChanged();
  return ec ? kInternal : kOk;
}

int32_t DataDir::InstallCopy(const std::string& db, const std::string& file, uint32_t byHandle) {
  if (!IsValidDatabaseName(db)) return kBadDatabaseName;
  std::lock_guard<std::mutex> lock(mutex_);
  if (UsedByOthers(db, byHandle)) return kDatabaseInUse;
  Db from, to;
  if (!from.Open(file, false)) return kBadImport;
  std::string error;
  // One transaction drops the old schema and fills the new: another zdbd sees one or the other.
  const std::string schema = QuoteIdent(Storage::SchemaOf(db));
  bool ok = to.OpenPostgres(Storage::SchemaOf(db) + "_new", true) &&
            to.ExecNative("BEGIN; DROP SCHEMA IF EXISTS " + schema + " CASCADE; ALTER SCHEMA " +
                          QuoteIdent(Storage::SchemaOf(db) + "_new") + " RENAME TO " + schema +
                          "; SET LOCAL search_path TO " + schema);
  ok = ok && CopyDatabase(from, to) && to.Exec("COMMIT");
  if (!ok) {
    Log("import of %s failed: %s", db.c_str(), to.Error().c_str());
    to.Exec("ROLLBACK");
    PgConn::DropSchema(Storage::SchemaOf(db) + "_new", &error);
  }
  Db::CatalogChanged();
  return ok ? kOk : kInternal;
}

void DataDir::NoteUse(const std::string& db, uint32_t handle, bool inUse) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& users = uses_[db];
  if (inUse) {
    users[handle] = 1;
  } else {
    users.erase(handle);
    if (users.empty()) uses_.erase(db);
  }
}

size_t DataDir::Users(const std::string& db) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = uses_.find(db);
  return it == uses_.end() ? 0 : it->second.size();
}

const std::vector<FieldInfo>& DbUse::Fields(const std::string& table) {
  uint64_t now = Db::CatalogGeneration();  // taken before the read: a change after it shows
  auto& cached = fieldCache[table];
  if (cached.generation != now) {
    // A read that failed (a request that found the catalog moved fails its first statement,
    // whatever it reads) is used by this request only: the next one reads again.
    bool ok = true;
    cached.fields = TableFields(*conn, table, &ok);
    cached.generation = ok ? now : 0;
  }
  return cached.fields;
}

uint32_t RandomHandle() {
  static std::mutex m;
  static std::random_device rd;
  std::lock_guard<std::mutex> lock(m);
  for (;;) {
    uint32_t h = rd();
    if (h != 0 && h != 0xFFFFFFFFu) return h;
  }
}

std::shared_ptr<ServerSession> SessionTable::Create(const std::string& user, bool admin, size_t max,
                                                    bool* atLimit) {
  if (atLimit) *atLimit = false;
  auto s = std::make_shared<ServerSession>();
  s->user = user;
  s->admin = admin;
  s->lastUse = std::chrono::steady_clock::now();
  for (int tries = 0; tries < 16; ++tries) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (sessions_.size() >= max) {
        if (atLimit) *atLimit = true;
        return nullptr;
      }
      s->handle = RandomHandle();
      if (sessions_.count(s->handle)) continue;
      if (!claim_) {
        sessions_[s->handle] = s;
        return s;
      }
    }
    // Asked outside the table's lock: the other sessions' requests go on meanwhile.
    Claim got = claim_(s->handle);
    if (got == Claim::kFailed) return nullptr;
    if (got == Claim::kClaimed) {
      std::lock_guard<std::mutex> lock(mutex_);
      sessions_[s->handle] = s;
      return s;
    }
  }
  return nullptr;
}

std::shared_ptr<ServerSession> SessionTable::Find(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(handle);
  if (it == sessions_.end()) return nullptr;
  it->second->lastUse = std::chrono::steady_clock::now();
  return it->second;
}

std::shared_ptr<ServerSession> SessionTable::Remove(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(handle);
  if (it == sessions_.end()) return nullptr;
  auto s = it->second;
  sessions_.erase(it);
  return s;
}

std::vector<std::shared_ptr<ServerSession>> SessionTable::TakeIdle(
    std::chrono::steady_clock::duration idle) {
  auto now = std::chrono::steady_clock::now();
  std::vector<std::shared_ptr<ServerSession>> out;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    auto& s = it->second;
    if (now - s->lastUse <= idle) {
      ++it;
    } else if (!s->mutex.try_lock()) {
      s->lastUse = now;  // a request is running: the session is in use right now
      ++it;
    } else {
      s->mutex.unlock();
      out.push_back(s);
      it = sessions_.erase(it);
    }
  }
  return out;
}

std::vector<std::shared_ptr<ServerSession>> SessionTable::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<ServerSession>> out;
  for (auto& [h, s] : sessions_) out.push_back(s);
  sessions_.clear();
  return out;
}

size_t SessionTable::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

void Server::EndSession(const std::shared_ptr<ServerSession>& s, const char* why) {
  std::lock_guard<std::mutex> lock(s->mutex);
  if (s->ended) return;
  s->ended = true;
  for (auto& [name, use] : s->dbs) {
    if (use.own && use.own->InTransaction()) use.own->Exec("ROLLBACK");
    data.NoteUse(name, s->handle, false);
  }
  s->dbs.clear();
  locks.ReleaseAll(s->handle);
  TheMetrics().Add(TheMetrics().sessionsEnded);
  Log("session %08X (%s) ended: %s", s->handle, s->user.empty() ? "anonymous" : s->user.c_str(),
      why);
}

}  // namespace zdbd
