#include "shared_db.h"

#include "pg_db.h"
#include "storage.h"

#include "schema.h"
#include "state.h"
#include "status.h"

namespace zdbd {

namespace {

long long MsSince(SharedDb::Clock::time_point t) {
  return static_cast<long long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SharedDb::Clock::now() - t).count());
}

}  // namespace

SharedDbs::~SharedDbs() {
  // The stop has already waited for every commit; only a start that failed comes here first.
  CloseAll();
}

void SharedDbs::Start(bool durable, size_t pool) {
  durable_ = durable;
  pool_ = pool < 1 ? 1 : pool;
  if (!durable && !flusher_.joinable()) flusher_ = std::thread([this] { Loop(); });
}

std::shared_ptr<SharedDb> SharedDbs::Get(const std::string& name, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = dbs_.find(name); it != dbs_.end()) return it->second;
  auto d = std::make_shared<SharedDb>();
  d->name = name;
  d->conn = std::make_unique<Db>();
  if (!d->conn->OpenDatabase(name, path, false) || !EnsureCatalog(*d->conn)) return nullptr;
  // Grouped changes are answered before their commit: they must survive a commit that fails.
  d->conn->KeepJournal(!durable_);
  dbs_[name] = d;
  return d;
}

void SharedDbs::Restore(SharedDb& d) {
  if (!Stmt(*d.conn, "BEGIN").Run()) return;
  d.held = true;
  d.heldSince = SharedDb::Clock::now();
  if (d.conn->Replay(d.conn->Journal())) return;
  // Too large for memory without writing to the disk: until a commit succeeds, readers see the
  // database without the waiting changes (they never see a change that is later lost).
  Log("the %zu waiting changes of database %s cannot be held in memory (%s); reads do not "
      "show them until they are committed",
      d.conn->Journal().size(), d.name.c_str(), d.conn->Error().c_str());
  Stmt(*d.conn, "ROLLBACK").Run();
  d.held = false;
}

void SharedDbs::Keep(SharedDb& d, const std::string& why) {
  // SQLite may or may not have rolled the transaction back itself; either way it starts anew.
  if (d.conn->InTransaction()) Stmt(*d.conn, "ROLLBACK").Run();
  d.held = false;
  Db::CatalogChanged();
  auto& journal = d.conn->Journal();
  if (durable_ || journal.empty()) {
    journal.clear();
    return;
  }
  auto now = SharedDb::Clock::now();
  if (!stopping_ && (!d.waiting || now - d.lastNote >= kNoteEvery)) {
    Log("%zu answered changes of database %s wait: their commit failed (%s); writes to it are "
        "refused (%d) until they are committed, tried again every %lld ms",
        journal.size(), d.name.c_str(), why.c_str(), static_cast<int>(kDiskFull),
        static_cast<long long>(kRetry.count()));
    d.lastNote = now;
  }
  d.waiting = true;
  d.reason = why;
  d.lastTry = now;
  Restore(d);
}

bool SharedDbs::Commit(SharedDb& d) {
  if (!d.conn) {
    d.held = false;
    return true;
  }
  if (d.waiting) {
    if (SharedDb::Clock::now() - d.lastTry < kRetry) return false;
    d.lastTry = SharedDb::Clock::now();
    d.conn->ApplyPageLimit();
    if (!d.held) Restore(d);
    if (!d.held) return false;
  }
  if (!d.held) return true;
  if (!d.conn->InTransaction()) {
    // The group ended without a commit (a failure SQLite could not contain in its statement).
    bool lost = !d.conn->Journal().empty();
    Keep(d, "the open transaction was rolled back");
    return !lost;
  }
  if (Stmt(*d.conn, "COMMIT").Run()) {
    if (d.waiting)
      Log("the %zu changes of database %s that waited are committed; writes are taken again",
          d.conn->Journal().size(), d.name.c_str());
    d.waiting = false;
    d.held = false;
    d.conn->Journal().clear();
    return true;
  }
  std::string why = d.conn->FullReason();
  if (durable_) Log("commit of database %s failed: %s", d.name.c_str(), why.c_str());
  d.reason = why;  // before the rollback, which leaves SQLite's message empty
  Keep(d, why);
  return false;
}

bool SharedDbs::Shut(SharedDb& d) {
  d.lastTry = {};  // a try now, whenever the one before was
  // A failure that left nothing answered behind (--durable, an empty group) does not hold it.
  if (!Commit(d) && d.waiting) {
    Arm();
    return false;
  }
  d.open = false;
  d.conn.reset();
  if (Storage::Postgres()) PgConn::CloseBatches(Storage::SchemaOf(d.name));
  std::lock_guard<std::mutex> lock(d.poolMutex);
  d.made -= d.idle.size();
  d.idle.clear();
  d.poolFree.notify_all();  // a borrower waiting finds the database closed
  return true;
}

std::unique_ptr<Db> SharedDbs::Borrow(SharedDb& d) {
  std::unique_lock<std::mutex> lock(d.poolMutex);
  for (;;) {
    if (!d.open) return nullptr;
    if (!d.idle.empty()) {
      auto conn = std::move(d.idle.back());
      d.idle.pop_back();
      return conn;
    }
    if (d.made < pool_) {
      ++d.made;
      lock.unlock();
      auto conn = std::make_unique<Db>();
      if (conn->OpenDatabase(d.name, "", false)) return conn;
      lock.lock();
      --d.made;
      d.poolFree.notify_one();
      return nullptr;
    }
    d.poolFree.wait(lock);
  }
}

void SharedDbs::GiveBack(SharedDb& d, std::unique_ptr<Db> conn) {
  std::lock_guard<std::mutex> lock(d.poolMutex);
  if (d.open && conn && !conn->Pg()->Broken())
    d.idle.push_back(std::move(conn));
  else
    --d.made;
  d.poolFree.notify_one();
}

bool SharedDbs::Enter(SharedDb& d, bool writes) {
  uint64_t outside = d.outside.load(std::memory_order_acquire);
  if (outside != d.seenOutside) {
    Commit(d);  // a snapshot older than another connection's commit
    d.seenOutside = outside;
  }
  if (d.conn) {
    d.conn->ApplyPageLimit();
    d.conn->TakeFull();
    d.mark = d.conn->Journal().size();
  }
  if (d.waiting && writes) return false;
  if (!d.held && d.conn) {
    if (d.waiting) {
      Restore(d);  // never a transaction without the waiting changes: its commit would drop them
    } else if (Stmt(*d.conn, "BEGIN").Run()) {
      d.held = true;
      d.heldSince = SharedDb::Clock::now();
    }
  }
  if (d.conn) d.conn->TakeFull();  // the replay's own troubles are not the request's
  return true;
}

int32_t SharedDbs::Leave(SharedDb& d, int32_t status, std::string* reason) {
  if (!d.conn) return status;
  bool full = d.conn->TakeFull();
  if (full) *reason = d.conn->FullReason();
  if (d.held && (full || !d.conn->InTransaction())) {
    // The request's own changes go; what was answered before it is kept.
    auto& journal = d.conn->Journal();
    if (journal.size() > d.mark) journal.resize(d.mark);
    if (!d.conn->InTransaction())
      Log("a failed statement ended the open transaction of database %s after %lld ms (%s)",
          d.name.c_str(), MsSince(d.heldSince), d.conn->Error().c_str());
    Keep(d, full ? *reason : d.conn->Error());
    if (!full && status == kOk) status = kInternal;
  } else if (d.held) {
    auto now = SharedDb::Clock::now();
    d.lastUse = now;
    if (durable_ || now - d.heldSince >= kMaxHold) {
      if (!Commit(d) && durable_) {
        full = d.conn->TakeFull() || full;
        *reason = d.reason;
        if (!full && status == kOk) status = kInternal;
      }
    }
  }
  if (full) status = kDiskFull;
  if (!durable_ && (d.held || d.waiting)) Arm();
  return status;
}

void SharedDbs::Arm() {
  // Set after `held` (seen by a flusher that disarmed itself before its scan), so that a
  // disarmed flusher is woken and an armed one finds this database held.
  if (!armed_.exchange(true)) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_one();
  }
}

std::shared_ptr<SharedDb> SharedDbs::Find(const std::string& name, bool take) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = dbs_.find(name);
  if (it == dbs_.end()) return nullptr;
  auto d = it->second;
  if (take) dbs_.erase(it);  // the next user opens the file anew
  return d;
}

bool SharedDbs::Flush(const std::string& name) {
  auto d = Find(name, false);
  if (!d) return true;
  std::lock_guard<std::recursive_mutex> lock(d->mutex);
  bool done = Commit(*d);
  if (!done && !durable_) Arm();
  return done;
}

bool SharedDbs::Close(const std::string& name, std::string* reason) {
  auto d = Find(name, false);
  if (!d) return true;
  std::lock_guard<std::recursive_mutex> lock(d->mutex);
  if (!Shut(*d)) {
    *reason = d->reason;
    return false;
  }
  Find(name, true);  // the next user opens the file anew
  return true;
}

bool SharedDbs::Waiting(const std::string& name, std::string* reason) {
  auto d = Find(name, false);
  if (!d) return false;
  std::lock_guard<std::recursive_mutex> lock(d->mutex);
  if (d->waiting) *reason = d->reason;
  return d->waiting;
}

bool SharedDbs::CloseAll() {
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_one();
  }
  if (flusher_.joinable()) flusher_.join();
  std::map<std::string, std::shared_ptr<SharedDb>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all = dbs_;
  }
  bool done = true;
  for (auto& [name, d] : all) {
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    if (Shut(*d)) {
      std::lock_guard<std::mutex> map(mutex_);
      dbs_.erase(name);
      continue;
    }
    done = false;
    auto now = SharedDb::Clock::now();
    if (d->stopNote == SharedDb::Clock::time_point{} || now - d->stopNote >= kNoteEvery) {
      Log("zdbd stops once the %zu answered changes of database %s that wait are committed; "
          "their commit fails (%s) and is tried again every %lld ms: free space on the disk to "
          "let the stop finish (SIGKILL ends zdbd at once and loses them)",
          d->conn->Journal().size(), name.c_str(), d->reason.c_str(),
          static_cast<long long>(kRetry.count()));
      d->stopNote = now;
    }
  }
  return done;
}

void SharedDbs::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool retrying = false;  // a database waits for space: tried again every kRetry
  while (!stop_) {
    if (!armed_ && !retrying) {
      wake_.wait(lock);
      continue;
    }
    wake_.wait_for(lock, armed_ ? std::chrono::milliseconds(kQuiet / 2) : kRetry);
    armed_ = false;
    retrying = false;
    bool watching = false;
    auto now = SharedDb::Clock::now();
    for (auto& [name, d] : dbs_) {
      // A database at work is left to its requests: the one that passes kMaxHold commits.
      std::unique_lock<std::recursive_mutex> busy(d->mutex, std::try_to_lock);
      if (!busy.owns_lock()) {
        watching = true;
        continue;
      }
      if (d->waiting || (d->held && (now - d->lastUse >= kQuiet || now - d->heldSince >= kMaxHold)))
        Commit(*d);
      else if (d->held)
        watching = true;
      if (d->waiting) retrying = true;
    }
    if (watching) armed_ = true;
  }
}

RequestDbs::RequestDbs(Server& server, ServerSession& s, bool own, bool writes) : server_(server) {
  // Another zdbd on the same PostgreSQL database may have changed a definition since the last
  // request: what sessions cached is read again when the count of changes moved.
  if (Storage::Postgres()) {
    static std::atomic<uint64_t> seen{0};
    uint64_t now = server.users.CatalogGeneration();
    if (now == 0 || seen.exchange(now) != now) Db::CatalogChanged();
  }
  for (auto& [name, use] : s.dbs) {
    // The session keeps the database's entry; a closed one (the file was replaced) is looked up
    // again.
    if (!use.shared || !use.shared->open)
      use.shared = server.shared.Get(name, server.data.PathOf(name));
    auto d = use.shared;
    if (d && !own && s.txDb != name && Storage::Postgres()) {
      if (auto conn = server.shared.Borrow(*d)) {
        conn->Pg()->BeginRequest();
        use.conn = conn.get();
        borrowed_.emplace_back(std::move(d), std::move(conn));
        continue;
      }
    }
    if (d && !own && s.txDb != name) {
      std::unique_lock<std::recursive_mutex> lock(d->mutex);
      if (d->conn) {
        if (!server.shared.Enter(*d, writes)) {
          refused_ = true;
          reason_ = d->reason;
        }
        use.conn = d->conn.get();
        locked_.emplace_back(std::move(d), std::move(lock));
        continue;
      }
    }
    if (d && writes) {
      // A request on another connection would not see the waiting changes, nor may it write.
      std::lock_guard<std::recursive_mutex> lock(d->mutex);
      if (d->waiting) {
        refused_ = true;
        reason_ = d->reason;
      }
    }
    use.conn = &OwnConnection(server, name, use);
    use.conn->TakeFull();
    own_.push_back(use.conn);
    if (d) outside_.push_back(std::move(d));
  }
}

int32_t RequestDbs::Finish(int32_t status) {
  if (finished_) return status;
  finished_ = true;
  for (auto& [d, lock] : locked_) status = server_.shared.Leave(*d, status, &reason_);
  for (auto& [d, conn] : borrowed_) {
    // Every request on PostgreSQL commits before its reply.
    bool full = conn->TakeFull();
    if (!conn->InTransaction()) {
      if (status == kOk) status = kInternal;
      Log("a failed statement ended the request's transaction on database %s (%s)", d->name.c_str(),
          conn->Error().c_str());
    } else if (!conn->Pg()->EndRequest()) {
      full = conn->TakeFull() || full;
      Log("commit of database %s failed: %s", d->name.c_str(), conn->Error().c_str());
      if (status == kOk) status = kInternal;
    }
    if (full) {
      status = kDiskFull;
      reason_ = conn->FullReason();
    }
    server_.shared.GiveBack(*d, std::move(conn));
  }
  borrowed_.clear();
  for (Db* db : own_)
    if (db->TakeFull() && status != kOk) {
      status = kDiskFull;
      reason_ = db->FullReason();
    }
  return status;
}

RequestDbs::~RequestDbs() {
  Finish(kOk);
  for (auto& d : outside_) d->outside.fetch_add(1, std::memory_order_acq_rel);
}

Db& OwnConnection(Server& server, const std::string& name, DbUse& use) {
  server.shared.Flush(name);
  if (!use.own || !use.own->IsOpen()) {
    use.own = std::make_unique<Db>();
    use.own->OpenDatabase(name, server.data.PathOf(name), false);
  }
  use.own->ApplyPageLimit();
  return *use.own;
}

}  // namespace zdbd
