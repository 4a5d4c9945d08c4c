#include "locks.h"

#include "status.h"

namespace zdbd {

bool LockTable::Acquire(const std::string& key, const LockHolder& who, LockHolder* other) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, inserted] = locks_.emplace(key, who);
  if (inserted || it->second.handle == who.handle) return true;
  if (other) *other = it->second;
  return false;
}

bool LockTable::Release(const std::string& key, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = locks_.find(key);
  if (it == locks_.end() || it->second.handle != handle) return false;
  locks_.erase(it);
  return true;
}

void LockTable::ReleaseMatching(const std::string& prefix, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = locks_.lower_bound(prefix); it != locks_.end() && it->first.rfind(prefix, 0) == 0;)
    it = it->second.handle == handle ? locks_.erase(it) : std::next(it);
}

void LockTable::ReleaseAll(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = locks_.begin(); it != locks_.end();)
    it = it->second.handle == handle ? locks_.erase(it) : std::next(it);
}

bool LockTable::Holder(const std::string& key, LockHolder* who) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = locks_.find(key);
  if (it == locks_.end()) return false;
  *who = it->second;
  return true;
}

int32_t LockTable::CheckWrite(const std::string& db, const std::string& table, int64_t record,
                              uint32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto heldByOther = [&](const std::string& key) {
    auto it = locks_.find(key);
    return it != locks_.end() && it->second.handle != handle;
  };
  if (heldByOther(DatabaseKey(db))) return kDatabaseLocked;
  if (!table.empty() && heldByOther(TableKey(db, table))) return kTableLocked;
  if (record > 0 && heldByOther(RecordKey(db, table, record))) return kRecordLocked;
  return kOk;
}

size_t LockTable::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return locks_.size();
}

}  // namespace zdbd
