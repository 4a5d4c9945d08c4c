// Locks on databases, tables and records, held by server sessions and seen by all of them: in
// memory for one zdbd, or in a store that several zdbd instances share (cluster.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zdbd {

struct LockHolder {
  uint32_t handle = 0;
  std::string user;
};

enum class Grant { kHeld, kRefused, kFailed };
// A session handle asked for across instances: free everywhere and now this one's, in use
// elsewhere, or not asked (the store is out of reach).
enum class Claim { kClaimed, kTaken, kFailed };

// Where the locks live. Every call may fail when the store is out of reach: kFailed, or -2 from
// FirstHeldByOther, and the other calls then change nothing.
class LockStore {
 public:
  virtual ~LockStore() = default;
  virtual Grant Acquire(const std::string& key, const LockHolder& who, LockHolder* other) = 0;
  virtual bool Release(const std::string& key, uint32_t handle) = 0;
  virtual void ReleaseMatching(const std::string& prefix, uint32_t handle) = 0;
  // Also ends the handle's claim, when the store keeps claims (Cluster::ClaimHandle).
  virtual void ReleaseAll(uint32_t handle) = 0;
  virtual bool Holder(const std::string& key, LockHolder* who) = 0;
  // The index of the first of `keys` that a session other than `handle` holds; -1 none, -2 the
  // store could not be asked or no longer knows `handle` (its instance was taken for dead).
  virtual int FirstHeldByOther(const std::vector<std::string>& keys, uint32_t handle) = 0;
  virtual size_t Count() = 0;
};

class MemoryLocks : public LockStore {
 public:
  Grant Acquire(const std::string& key, const LockHolder& who, LockHolder* other) override;
  bool Release(const std::string& key, uint32_t handle) override;
  void ReleaseMatching(const std::string& prefix, uint32_t handle) override;
  void ReleaseAll(uint32_t handle) override;
  bool Holder(const std::string& key, LockHolder* who) override;
  int FirstHeldByOther(const std::vector<std::string>& keys, uint32_t handle) override;
  size_t Count() override;

 private:
  std::mutex mutex_;
  std::map<std::string, LockHolder> locks_;
};

class LockTable {
 public:
  static std::string DatabaseKey(const std::string& db) { return "D:" + db; }
  static std::string TableKey(const std::string& db, const std::string& table) {
    return "T:" + db + "/" + table;
  }
  static std::string RecordKey(const std::string& db, const std::string& table, int64_t record) {
    return "R:" + db + "/" + table + "/" + std::to_string(record);
  }

  // Replaces the in-memory store; set before the first request.
  void UseStore(std::shared_ptr<LockStore> store) { store_ = std::move(store); }

  // kOk when the lock is now held by `who` (also when it held it already); `refused` when
  // another session holds it; kInternal when the store cannot be reached.
  int32_t Acquire(const std::string& key, const LockHolder& who, int32_t refused);
  // True when `handle` held it and has let it go.
  bool Release(const std::string& key, uint32_t handle) { return store_->Release(key, handle); }
  // Lets go of every lock whose key starts with `prefix` that `handle` holds.
  void ReleaseMatching(const std::string& prefix, uint32_t handle) {
    store_->ReleaseMatching(prefix, handle);
  }
  void ReleaseAll(uint32_t handle) { store_->ReleaseAll(handle); }
  bool Holder(const std::string& key, LockHolder* who) const { return store_->Holder(key, who); }
  // The first lock among database, table and record that someone other than `handle` holds,
  // as the status that refuses a change; kOk when none.
  int32_t CheckWrite(const std::string& db, const std::string& table, int64_t record,
                     uint32_t handle) const;
  size_t Count() const { return store_->Count(); }

 private:
  std::shared_ptr<LockStore> store_ = std::make_shared<MemoryLocks>();
};

}  // namespace zdbd
