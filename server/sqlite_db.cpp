#include "sqlite_db.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "pg_db.h"
#include "storage.h"

namespace zdbd {

namespace {

std::atomic<bool> g_fullDurability{false};
std::atomic<bool> g_interrupted{false};

int OnProgress(void*) {
  return g_interrupted.load(std::memory_order_relaxed) ? 1 : 0;
}

// Takes the place of SQLite's automatic checkpoint, which runs after a commit and reports its
// own failure as the commit's: on a full disk the database file cannot grow, and a commit that
// is safely in the WAL would look failed and be carried out a second time. The checkpoint is
// tried the same way; one that fails is tried again after the next commit.
int CheckpointAfterCommit(void*, sqlite3* db, const char* name, int frames) {
  if (frames >= 1000)
    sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

}  // namespace

void Db::SetDurability(bool full) {
  g_fullDurability = full;
}

bool Db::Durable() {
  return g_fullDurability;
}

void Db::InterruptAll() {
  g_interrupted = true;
  PgConn::InterruptAll();
}

namespace {
std::atomic<uint64_t> g_catalogGeneration{1};
}

uint64_t Db::CatalogGeneration() {
  return g_catalogGeneration.load(std::memory_order_acquire);
}

void Db::CatalogChanged() {
  g_catalogGeneration.fetch_add(1, std::memory_order_acq_rel);
}

Db::Db() = default;

Db::~Db() {
  for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  if (db_) sqlite3_close_v2(db_);
}

sqlite3_stmt* Db::TakePrepared(const std::string& sql) {
  {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    auto it = cache_.find(sql);
    if (it != cache_.end()) {
      sqlite3_stmt* stmt = it->second;
      cache_.erase(it);
      return stmt;
    }
  }
  sqlite3_stmt* stmt = nullptr;
  if (!db_) return nullptr;  // a file that could not be opened: every statement fails
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  return stmt;
}

void Db::GiveBack(const std::string& sql, sqlite3_stmt* stmt) {
  // A reset statement holds no lock and no read snapshot; a schema change re-prepares it.
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  std::lock_guard<std::mutex> lock(cacheMutex_);
  if (cache_.size() < 256 && cache_.emplace(sql, stmt).second) return;
  sqlite3_finalize(stmt);
}

bool Db::Open(const std::string& path, bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 200);
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_progress_handler(db_, 10000, OnProgress, nullptr);
  sqlite3_wal_hook(db_, CheckpointAfterCommit, nullptr);
  ApplyPageLimit();
  return Exec(g_fullDurability ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                               : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
}

bool Db::OpenPostgres(const std::string& schema, bool create) {
  pg_ = PgConn::Connect(schema, create, &pgError_);
  return pg_ != nullptr;
}

bool Db::OpenDatabase(const std::string& name, const std::string& path, bool create) {
  if (!Storage::Postgres()) return Open(path, create);
  return OpenPostgres(Storage::SchemaOf(name), create);
}

bool Db::ExecNative(const std::string& sql) {
  if (!pg_) return Exec(sql);
  bool ok = pg_->Native(sql);
  CatalogChanged();
  return ok;
}

bool Db::Exec(const std::string& sql) {
  if (pg_) {
    bool ok = pg_->Exec(sql);
    CatalogChanged();
    if (!ok && pg_->ErrorCode() == SQLITE_FULL) sawFull_ = true;
    return ok;
  }
  // Exec carries the commits and the DDL: counted after they are done, whatever they did.
  int rc = db_ ? sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) : SQLITE_ERROR;
  CatalogChanged();
  NoteResult(rc);
  if (rc == SQLITE_OK && journaling_ && InTransaction()) journal_.push_back({sql, {}, true});
  return rc == SQLITE_OK;
}

void Db::ApplyPageLimit() {
  static const char* const file = std::getenv("ZDBD_PAGE_LIMIT_FILE");
  if (!file || !db_) return;
  std::ifstream in(file);
  long long pages = 0;
  if (in >> pages && pages > 0)
    sqlite3_exec(db_, ("PRAGMA max_page_count=" + std::to_string(pages)).c_str(), nullptr, nullptr,
                 nullptr);
}

void Db::NoteResult(int rc) {
  if ((rc & 0xFF) == SQLITE_FULL) sawFull_ = true;
}

bool Db::TakeFull() {
  bool full = sawFull_;
  sawFull_ = false;
  return full;
}

std::string Db::FullReason() const {
  if (pg_) return Error();
  int e = db_ ? sqlite3_system_errno(db_) : 0;
  return e ? std::strerror(e) : Error();
}

bool Db::Replay(const std::vector<JournalEntry>& entries) {
  bool was = journaling_;
  journaling_ = false;
  bool ok = true;
  for (size_t i = 0; ok && i < entries.size(); ++i) {
    const JournalEntry& e = entries[i];
    if (e.exec) {
      ok = Exec(e.sql);
      continue;
    }
    Stmt s(*this, e.sql);
    for (size_t b = 0; b < e.binds.size(); ++b) s.Bind(static_cast<int>(b + 1), e.binds[b]);
    ok = s.Ok() && s.Run();
  }
  journaling_ = was;
  return ok;
}

std::string Db::Error() const {
  if (pg_) return pg_->Error();
  if (!pgError_.empty()) return pgError_;
  return db_ ? sqlite3_errmsg(db_) : "no database";
}
int Db::ErrorCode() const {
  if (pg_) return pg_->ErrorCode();
  return db_ ? (sqlite3_errcode(db_) & 0xFF) : SQLITE_ERROR;
}
int64_t Db::LastRowId() const {
  if (pg_) return pg_->LastRowId();
  return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}
int Db::Changes() const {
  if (pg_) return pg_->Changes();
  return db_ ? sqlite3_changes(db_) : 0;
}
bool Db::InTransaction() const {
  if (pg_) return pg_->InTransaction();
  return db_ && !sqlite3_get_autocommit(db_);
}

bool Db::RestartUnwritten() {
  if (pg_ || !db_ || sqlite3_txn_state(db_, "main") != SQLITE_TXN_READ) return false;
  return Exec("ROLLBACK") && Exec("BEGIN");
}

namespace {

Value ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return Value::Int(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
      return Value::Real(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const bool text = sqlite3_column_type(stmt, i) == SQLITE_TEXT;
      const void* p = text ? static_cast<const void*>(sqlite3_column_text(stmt, i))
                           : sqlite3_column_blob(stmt, i);
      std::string bytes = p ? std::string(static_cast<const char*>(p),
                                          static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                            : std::string();
      return text ? Value::Text(std::move(bytes)) : Value::Blob(std::move(bytes));
    }
    default:
      return Value::Null();
  }
}

}  // namespace

bool Db::RunStatements(const std::string& script, const ColumnsFn& columns, const RowFn& row) {
  if (!db_) return false;
  const char* tail = script.c_str();
  while (*tail) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, tail, -1, &raw, &tail) != SQLITE_OK) return false;
    if (!raw) continue;  // blank text or a comment
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    const int count = sqlite3_column_count(raw);
    if (count > 0) {
      std::vector<std::string> names(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i)
        if (const char* n = sqlite3_column_name(raw, i)) names[static_cast<size_t>(i)] = n;
      if (!columns(names)) return true;
    }
    int rc;
    std::vector<Value> cells(static_cast<size_t>(count));
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      for (int i = 0; i < count; ++i) cells[static_cast<size_t>(i)] = ColumnValue(raw, i);
      if (!row(cells)) return true;
    }
    if (rc != SQLITE_DONE) return false;
  }
  return true;
}

bool Db::RunScript(const std::string& script, const ColumnsFn& columns, const RowFn& row) {
  bool ok = pg_ ? pg_->RunScript(script, columns, row) : RunStatements(script, columns, row);
  CatalogChanged();  // a script may have changed anything
  return ok;
}

Stmt::Stmt(Db& db, const std::string& sql) : db_(&db), sql_(sql) {
  touchesCatalog_ = sql.rfind("SELECT", 0) != 0 && sql.find("zdb_") != std::string::npos;
  if (db.pg_) {
    pg_ = std::make_unique<PgStmt>(*db.pg_, sql);
    failed_ = !pg_->Ok();
    return;
  }
  stmt_ = db.TakePrepared(sql);
  failed_ = stmt_ == nullptr;
}

bool Stmt::Ok() const {
  return pg_ ? pg_->Ok() : stmt_ != nullptr;
}

Stmt::~Stmt() {
  if (stmt_) db_->GiveBack(sql_, stmt_);
  if (touchesCatalog_) Db::CatalogChanged();  // after the statement's commit
}

void Stmt::Keep(int i, const Value& v) {
  if (i < 1) return;
  if (binds_.size() < static_cast<size_t>(i)) binds_.resize(static_cast<size_t>(i));
  binds_[static_cast<size_t>(i) - 1] = v;
}

Stmt& Stmt::Bind(int i, const std::string& text) {
  if (pg_) {
    pg_->Bind(i, Value::Text(text));
    return *this;
  }
  if (db_->Journaling()) Keep(i, Value::Text(text));
  if (stmt_)
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::Bind(int i, int64_t v) {
  if (pg_) {
    pg_->Bind(i, Value::Int(v));
    return *this;
  }
  if (db_->Journaling()) Keep(i, Value::Int(v));
  if (stmt_) sqlite3_bind_int64(stmt_, i, v);
  return *this;
}

Stmt& Stmt::Bind(int i, const Value& v) {
  if (pg_) {
    pg_->Bind(i, v);
    return *this;
  }
  if (!stmt_) return *this;
  if (db_->Journaling() && v.kind != Value::kText) Keep(i, v);
  switch (v.kind) {
    case Value::kNull:
      sqlite3_bind_null(stmt_, i);
      break;
    case Value::kInt:
      sqlite3_bind_int64(stmt_, i, v.i);
      break;
    case Value::kReal:
      sqlite3_bind_double(stmt_, i, v.d);
      break;
    case Value::kText:
      Bind(i, v.s);
      break;
    case Value::kBlob:
      sqlite3_bind_blob(stmt_, i, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      break;
  }
  return *this;
}

bool Stmt::Step() {
  if (pg_) {
    bool row = pg_->Step();
    failed_ = pg_->Failed();
    if (failed_ && db_->ErrorCode() == SQLITE_FULL) db_->sawFull_ = true;
    return row;
  }
  if (!stmt_) return false;
  int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    failed_ = true;
    db_->NoteResult(rc);
    return false;
  }
  if (db_->journaling_ && !journaled_) {
    journaled_ = true;
    if (!sqlite3_stmt_readonly(stmt_) && db_->InTransaction())
      db_->journal_.push_back({sql_, std::move(binds_), false});
  }
  return rc == SQLITE_ROW;
}

bool Stmt::Run() {
  while (Step()) {
  }
  return !failed_;
}

int Stmt::Columns() const {
  if (pg_) return pg_->Columns();
  return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

std::string Stmt::ColumnName(int i) const {
  if (pg_) return pg_->ColumnName(i);
  const char* n = sqlite3_column_name(stmt_, i);
  return n ? n : "";
}

std::string Stmt::Text(int i) const {
  if (pg_) {
    Value v = pg_->Get(i);
    if (v.kind == Value::kInt) return std::to_string(v.i);
    if (v.kind == Value::kReal) return ValueText(FieldInfo{"", 'N', ' ', 8, ""}, v);
    return v.s;
  }
  const unsigned char* t = sqlite3_column_text(stmt_, i);
  return t ? std::string(reinterpret_cast<const char*>(t),
                         static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
           : std::string();
}

int64_t Stmt::Int(int i) const {
  if (pg_) {
    Value v = pg_->Get(i);
    if (v.kind == Value::kInt) return v.i;
    if (v.kind == Value::kReal) return static_cast<int64_t>(v.d);
    return std::strtoll(v.s.c_str(), nullptr, 10);
  }
  return sqlite3_column_int64(stmt_, i);
}

Value Stmt::Get(int i) const {
  if (pg_) return pg_->Get(i);
  return ColumnValue(stmt_, i);
}

ReadTransaction::ReadTransaction(Db& db) : db_(db) {
  if (!db.InTransaction()) began_ = Stmt(db, "BEGIN").Run();
}

ReadTransaction::~ReadTransaction() {
  if (began_ && !Stmt(db_, "COMMIT").Run()) Stmt(db_, "ROLLBACK").Run();
}

bool IsBusyCode(int code) {
  return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

std::string QuoteIdent(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace zdbd
