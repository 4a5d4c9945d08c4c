// Locks on databases, tables and records, held by server sessions and seen by all of them.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace zdbd {

struct LockHolder {
  uint32_t handle = 0;
  std::string user;
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

  // True when the lock is now held by `who` (also when it held it already).
  bool Acquire(const std::string& key, const LockHolder& who, LockHolder* other);
  // True when `handle` held it and has let it go.
  bool Release(const std::string& key, uint32_t handle);
  // Lets go of every lock whose key starts with `prefix` that `handle` holds.
  void ReleaseMatching(const std::string& prefix, uint32_t handle);
  void ReleaseAll(uint32_t handle);
  bool Holder(const std::string& key, LockHolder* who) const;
  // The first lock among database, table and record that someone other than `handle` holds,
  // as the status that refuses a change; kOk when none.
  int32_t CheckWrite(const std::string& db, const std::string& table, int64_t record,
                     uint32_t handle) const;
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, LockHolder> locks_;
};

}  // namespace zdbd
