#include "shared_db.h"

#include "schema.h"
#include "state.h"

namespace zdbd {

SharedDbs::~SharedDbs() {
  CloseAll();
}

void SharedDbs::Start(bool durable) {
  durable_ = durable;
  if (!durable && !flusher_.joinable()) flusher_ = std::thread([this] { Loop(); });
}

std::shared_ptr<SharedDb> SharedDbs::Get(const std::string& name, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto it = dbs_.find(name); it != dbs_.end()) return it->second;
  auto d = std::make_shared<SharedDb>();
  d->conn = std::make_unique<Db>();
  if (!d->conn->Open(path, false) || !EnsureCatalog(*d->conn)) return nullptr;
  dbs_[name] = d;
  return d;
}

void SharedDbs::Commit(SharedDb& d) {
  if (!d.held) return;
  d.held = false;
  if (!d.conn || !d.conn->InTransaction()) return;
  if (!Stmt(*d.conn, "COMMIT").Run()) {
    Log("commit of answered changes failed: %s", d.conn->Error().c_str());
    Stmt(*d.conn, "ROLLBACK").Run();
    Db::CatalogChanged();
  }
}

void SharedDbs::Shut(SharedDb& d) {
  std::lock_guard<std::recursive_mutex> lock(d.mutex);
  Commit(d);
  d.open = false;
  d.conn.reset();
}

void SharedDbs::Enter(SharedDb& d) {
  uint64_t outside = d.outside.load(std::memory_order_acquire);
  if (outside != d.seenOutside) {
    Commit(d);  // a snapshot older than another connection's commit
    d.seenOutside = outside;
  }
  if (!d.held && d.conn && Stmt(*d.conn, "BEGIN").Run()) {
    d.held = true;
    d.heldSince = SharedDb::Clock::now();
  }
}

void SharedDbs::Leave(SharedDb& d) {
  if (!d.held || !d.conn) return;
  if (!d.conn->InTransaction()) {
    // Only a failure SQLite cannot contain in its statement ends a transaction from inside.
    Log("a failed statement rolled back the changes of the last %lld ms",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   SharedDb::Clock::now() - d.heldSince)
                                   .count()));
    d.held = false;
    Db::CatalogChanged();
    return;
  }
  auto now = SharedDb::Clock::now();
  d.lastUse = now;
  if (durable_ || now - d.heldSince >= kMaxHold) {
    Commit(d);
    return;
  }
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

void SharedDbs::Flush(const std::string& name) {
  if (auto d = Find(name, false)) {
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    Commit(*d);
  }
}

void SharedDbs::Close(const std::string& name) {
  if (auto d = Find(name, true)) Shut(*d);
}

void SharedDbs::CloseAll() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_one();
  }
  if (flusher_.joinable()) flusher_.join();
  std::map<std::string, std::shared_ptr<SharedDb>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(dbs_);
  }
  for (auto& [name, d] : all) Shut(*d);
}

void SharedDbs::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (!armed_) {
      wake_.wait(lock);
      continue;
    }
    wake_.wait_for(lock, kQuiet / 2);
    armed_ = false;
    bool waiting = false;
    auto now = SharedDb::Clock::now();
    for (auto& [name, d] : dbs_) {
      // A database at work is left to its requests: the one that passes kMaxHold commits.
      std::unique_lock<std::recursive_mutex> busy(d->mutex, std::try_to_lock);
      if (!busy.owns_lock()) {
        waiting = true;
      } else if (d->held) {
        if (now - d->lastUse >= kQuiet || now - d->heldSince >= kMaxHold)
          Commit(*d);
        else
          waiting = true;
      }
    }
    if (waiting) armed_ = true;
  }
}

RequestDbs::RequestDbs(Server& server, ServerSession& s, bool own) : server_(server) {
  for (auto& [name, use] : s.dbs) {
    // The session keeps the database's entry; a closed one (the file was replaced) is looked up
    // again.
    if (!use.shared || !use.shared->open)
      use.shared = server.shared.Get(name, server.data.PathOf(name));
    auto d = use.shared;
    if (d && !own && s.txDb != name) {
      std::unique_lock<std::recursive_mutex> lock(d->mutex);
      if (d->conn) {
        server.shared.Enter(*d);
        use.conn = d->conn.get();
        locked_.emplace_back(std::move(d), std::move(lock));
        continue;
      }
    }
    use.conn = &OwnConnection(server, name, use);
    if (d) outside_.push_back(std::move(d));
  }
}

RequestDbs::~RequestDbs() {
  for (auto& [d, lock] : locked_) server_.shared.Leave(*d);
  for (auto& d : outside_) d->outside.fetch_add(1, std::memory_order_acq_rel);
}

Db& OwnConnection(Server& server, const std::string& name, DbUse& use) {
  server.shared.Flush(name);
  if (!use.own || !use.own->IsOpen()) {
    use.own = std::make_unique<Db>();
    use.own->Open(server.data.PathOf(name), false);
  }
  return *use.own;
}

}  // namespace zdbd
