// Users and their privileges, kept in the data directory's system file. While no user is
// defined everyone may do everything; once one exists, logins are checked and privileges apply.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sqlite_db.h"

namespace zdbd {

enum Privilege : uint32_t {
  kPrivRead = 1,    // read records
  kPrivWrite = 2,   // append, change and delete records
  kPrivDefine = 4,  // create, change and delete tables and fields
  kPrivAll = 7,
};

class Users {
 public:
  bool Open(const std::string& path);
  bool Any();
  // Over PostgreSQL, the count of definition changes any zdbd on the database has committed
  // (0: unknown). A request's first Any() reads it in the same round trip; NewRequest() forgets
  // that reading, so that each request sees the changes committed before it began. With
  // `trust`, the request takes the last reading of any request instead, and its first
  // statement checks it (PgConn::ArmCheck): true when it does.
  uint64_t CatalogGeneration();
  bool NewRequest(bool trust = false);
  // That last reading: twice the generation, plus one when users exist.
  int64_t Known() const;
  // kOk with `admin` set, or kLoginRefused.
  int32_t CheckLogin(const std::string& name, const std::string& password, bool* admin);
  int32_t Add(const std::string& name, const std::string& password, bool admin);
  int32_t Delete(const std::string& name);
  int32_t Update(const std::string& name, const std::string& password, const std::string& role);
  bool Exists(const std::string& name);
  bool IsAdmin(const std::string& name);
  std::vector<std::string> List();
  size_t AdminCount();
  // Privileges on a table of a database; "*" stands for every database or every table.
  int32_t Grant(const std::string& user, const std::string& db, const std::string& table,
                uint32_t bits, bool grant);
  uint32_t Bits(const std::string& user, const std::string& db, const std::string& table);
  // The users holding any privilege on db.table, and the tables a user holds privileges on.
  std::vector<std::string> UsersOf(const std::string& db, const std::string& table);
  std::vector<std::string> TablesOf(const std::string& user, const std::string& db);
  int32_t DropTablePrivileges(const std::string& db, const std::string& table);
  std::string Describe(const std::string& name);
  // The whole user catalog (users with their salted hashes, privileges) to and from a file.
  int32_t SaveTo(const std::string& path);
  // Replaces the catalog with the file's; refused (kDenied) when the file holds users but no
  // administrator, so that nobody is locked out.
  int32_t LoadFrom(const std::string& path);

  std::string Error() const { return db_.Error(); }

 private:
  std::mutex mutex_;
  Db db_;
};

}  // namespace zdbd
