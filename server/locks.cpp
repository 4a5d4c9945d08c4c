#include "locks.h"

#include "pg_db.h"
#include "storage.h"

#include "status.h"

namespace zdbd {

Grant MemoryLocks::Acquire(const std::string& key, const LockHolder& who, LockHolder* other) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, inserted] = locks_.emplace(key, who);
  if (inserted || it->second.handle == who.handle) return Grant::kHeld;
  if (other) *other = it->second;
  return Grant::kRefused;
}

bool MemoryLocks::Release(const std::string& key, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = locks_.find(key);
  if (it == locks_.end() || it->second.handle != handle) return false;
  locks_.erase(it);
  return true;
}

void MemoryLocks::ReleaseMatching(const std::string& prefix, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = locks_.lower_bound(prefix); it != locks_.end() && it->first.rfind(prefix, 0) == 0;)
    it = it->second.handle == handle ? locks_.erase(it) : std::next(it);
}

void MemoryLocks::ReleaseAll(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = locks_.begin(); it != locks_.end();)
    it = it->second.handle == handle ? locks_.erase(it) : std::next(it);
}

bool MemoryLocks::Holder(const std::string& key, LockHolder* who) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = locks_.find(key);
  if (it == locks_.end()) return false;
  *who = it->second;
  return true;
}

int MemoryLocks::FirstHeldByOther(const std::vector<std::string>& keys, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < keys.size(); ++i) {
    auto it = locks_.find(keys[i]);
    if (it != locks_.end() && it->second.handle != handle) return static_cast<int>(i);
  }
  return -1;
}

size_t MemoryLocks::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return locks_.size();
}

int32_t LockTable::Acquire(const std::string& key, const LockHolder& who, int32_t refused) {
  switch (store_->Acquire(key, who, nullptr)) {
    case Grant::kHeld:
      return kOk;
    case Grant::kRefused:
      return refused;
    case Grant::kFailed:
      break;
  }
  return kInternal;
}

int32_t LockTable::CheckWrite(const std::string& db, const std::string& table, int64_t record,
                              uint32_t handle) const {
  // Most writes find no lock at all: one look at the store for the three keys.
  std::vector<std::string> keys{DatabaseKey(db)};
  std::vector<int32_t> refusals{kDatabaseLocked};
  if (!table.empty()) {
    keys.push_back(TableKey(db, table));
    refusals.push_back(kTableLocked);
  }
  if (record > 0) {
    keys.push_back(RecordKey(db, table, record));
    refusals.push_back(kRecordLocked);
  }
  // Over PostgreSQL a record request's write carries the look itself (PgConn::DeferLocks).
  if (Storage::Postgres() && PgConn::DeferLocks(keys, handle)) return kOk;
  int first = store_->FirstHeldByOther(keys, handle);
  if (first == -2) return kInternal;
  return first < 0 ? kOk : refusals[static_cast<size_t>(first)];
}

}  // namespace zdbd
