// zdb user list|add|drop|passwd, zdb grant and zdb revoke.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <tuple>

#include "zdb/admin.h"
#include "zdb/admin_verbs.h"
#include "zdb/common.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct Grant {
  std::string database, table;
  int32_t bits = 0;
};

struct UserInfo {
  std::string name, role;  // role "" when this session may not read it
  std::vector<Grant> grants;
};

// The user's role and grants from the server's "key=value" lines.
int32_t ReadUser(const std::string& name, UserInfo* info) {
  std::vector<char> buf(10000, 0);
  std::string user = name;
  char reserved[1] = {0};
  const int32_t r = Z_ReadUser(user.data(), reserved, buf.data());
  info->name = name;
  if (r != ZDB_OK) return r;
  std::istringstream in(std::string(buf.data(), strnlen(buf.data(), buf.size())));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("role=", 0) == 0) info->role = line.substr(5);
    if (line.rfind("grant=", 0) != 0) continue;
    // DB.TABLE:BITS; a table name has no '.', so the last '.' before ':' splits.
    const auto colon = line.rfind(':');
    const std::string where = line.substr(6, colon - 6);
    const auto dot = where.find('.');
    Grant g{where.substr(0, dot), dot == std::string::npos ? "*" : where.substr(dot + 1),
            std::atoi(line.c_str() + colon + 1)};
    info->grants.push_back(g);
  }
  return ZDB_OK;
}

int32_t UserNames(std::vector<std::string>* names) {
  int32_t users = 0, admins = 0;
  char reserved[1] = {0};
  int32_t r = Z_NumUsers(reserved, &users, &admins);
  if (r != ZDB_OK || users <= 0) return r;
  std::vector<char> buf(static_cast<size_t>(users) * 65, 0);
  r = Z_GetUsers(reserved, users, buf.data());
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < users; ++i) {
    const std::string n = SlotText(reinterpret_cast<unsigned char*>(buf.data()), i * 65, 65);
    if (!n.empty()) names->push_back(n);
  }
  return ZDB_OK;
}

std::string Join(const std::vector<std::string>& items, const char* sep) {
  std::string s;
  for (const auto& i : items) s += (s.empty() ? "" : sep) + i;
  return s;
}

int List(const VerbCall& call) {
  if (!Connect()) return kExitFailure;
  std::vector<std::string> names;
  if (int32_t r = UserNames(&names); r != ZDB_OK) return Finish("listing users", r);
  std::vector<Row> rows;
  std::vector<std::string> json;
  for (const std::string& n : names) {
    UserInfo u;
    const int32_t r = ReadUser(n, &u);
    // Only administrators read roles and grants; others still see the names.
    if (r != ZDB_OK && r != 4005) return Finish("reading user " + n, r);
    std::vector<std::string> grantTexts, grantJson;
    for (const Grant& g : u.grants) {
      grantTexts.push_back(g.database + "." + g.table + ":" + Join(PrivilegeNames(g.bits), ","));
      grantJson.push_back(JsonObject({{"database", JsonString(g.database)},
                                      {"table", JsonString(g.table)},
                                      {"privileges", JsonStrings(PrivilegeNames(g.bits))}}));
    }
    rows.push_back({n, u.role.empty() ? "?" : u.role, Join(grantTexts, " ")});
    json.push_back(JsonObject({{"name", JsonString(n)},
                               {"role", u.role.empty() ? "null" : JsonString(u.role)},
                               {"grants", JsonArray(grantJson)}}));
  }
  PrintListing(call, {"user", "role", "grants"}, rows, json);
  return kExitOk;
}

int Add(const VerbCall& call) {
  std::string password;
  if (!NewPassword(call.given("--password-stdin"), &password)) return kExitUsage;
  const char* role = call.given("--admin") ? "ADMIN" : "USER";
  if (!Connect()) return kExitFailure;
  if (int code = Finish("adding user " + call.at(0),
                        Z_AddUser(call.at(0).c_str(), password.c_str(), role));
      code != kExitOk)
    return code;
  Info("user %s added", call.at(0).c_str());
  return kExitOk;
}

int Drop(const VerbCall& call) {
  if (int code = Confirm(call, "user " + call.at(0)); code != kExitOk) return code;
  if (!Connect()) return kExitFailure;
  return Finish("dropping user " + call.at(0), Z_DelUser(call.at(0).c_str(), "", ""));
}

int Passwd(const VerbCall& call) {
  std::string role = call.text("--role");
  for (char& c : role) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (call.given("--role") && role != "ADMIN" && role != "USER")
    return VerbUsage(call, "--role is admin or user");
  std::string password;
  if (!NewPassword(call.given("--password-stdin"), &password)) return kExitUsage;
  if (!Connect()) return kExitFailure;
  UserInfo u;
  if (int32_t r = ReadUser(call.at(0), &u); r != ZDB_OK)
    return Finish("reading user " + call.at(0), r);
  if (role.empty()) role = u.role;  // kept unless --role names one
  return Finish("changing user " + call.at(0),
                Z_UpdUser(call.at(0).c_str(), password.c_str(), role.c_str(), ""));
}

int GrantOrRevoke(const VerbCall& call, bool grant) {
  int32_t bits = 0;
  std::string why;
  if (!ParsePrivileges(call.at(3), &bits, &why)) return VerbUsage(call, why);
  if (!Connect()) return kExitFailure;
  const auto& [user, db, table] = std::tie(call.at(0), call.at(1), call.at(2));
  const int32_t r = grant ? Z_Grant(user.c_str(), db.c_str(), table.c_str(), "", bits)
                          : Z_Revoke(user.c_str(), db.c_str(), table.c_str(), "", bits);
  return Finish(std::string(grant ? "granting to " : "revoking from ") + user, r);
}

const VerbOption kPasswordStdin = {"--password-stdin", nullptr,
                                   "read the new password as one line of standard input"};

}  // namespace

const std::vector<Verb>& UserVerbs() {
  static const std::vector<Verb> verbs = {
      {"user", "list", "list the users with their roles and grants", "", kListing, {}, List},
      {"user",
       "add",
       "add a user; its password is asked for, or read from $ZDB_NEW_PASSWORD or stdin (else "
       "$ZDB_PASSWORD)",
       "NAME",
       0,
       {{"--admin", nullptr, "make the user an administrator"}, kPasswordStdin},
       Add},
      {"user", "drop", "drop a user and its privileges", "NAME", kDestructive, {}, Drop},
      {"user",
       "passwd",
       "set a user's password (and role), as user add reads it",
       "NAME",
       0,
       {{"--role", "admin|user", "change the role too"}, kPasswordStdin},
       Passwd},
      {"",
       "grant",
       "grant privileges (read, write, define, all) on DB.TABLE; '*' for every one",
       "USER DB TABLE PRIVILEGES",
       0,
       {},
       [](const VerbCall& c) { return GrantOrRevoke(c, true); }},
      {"",
       "revoke",
       "revoke privileges (read, write, define, all) on DB.TABLE; '*' for every one",
       "USER DB TABLE PRIVILEGES",
       0,
       {},
       [](const VerbCall& c) { return GrantOrRevoke(c, false); }},
  };
  return verbs;
}

}  // namespace zdb::cli
