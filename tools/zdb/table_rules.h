// The rules of a table that a dump carries beside its records, so that a load recreates them:
// indexes with their fields, constraints, default values, cross references and aliases, read and
// replayed through the library's catalog calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "zdb/catalog.h"

namespace zdb::cli {

struct TableRule {
  enum Kind : char { kIndex = 'I', kConstraint = 'C', kDefault = 'D', kXref = 'X', kAlias = 'A' };
  Kind kind = kIndex;
  std::string field;  // constraint and default: the field
  std::string name;   // index and alias: its name
  std::string value;  // index: its fields "A,B"; default: the value; alias: the table
  int flags = 0;      // index: 1 unique
  std::string data;   // constraint: the 364-byte record; cross reference: the 297-byte record
};

// The rules of the selected table `table`. A failing call is named in `what`; returns its
// ResultCode.
int32_t ReadTableRules(const std::string& table, const std::vector<FieldDef>& fields,
                       std::vector<TableRule>* rules, std::string* what);
// Creates one rule on the selected table (a cross reference names its own tables).
int32_t ApplyTableRule(const TableRule& rule, std::string* what);
// "index BYNAME", "constraint 2 of PRICE", ...: what a message calls the rule.
std::string RuleLabel(const TableRule& rule);

// A user as a dump keeps it: name, role and privileges, never a password or its hash.
struct DumpUser {
  std::string name, role;  // role ADMIN or USER
  std::string grants;      // lines DB.TABLE:BITS
};
// Every user of the server (administrators only may ask). ResultCode; `what` names a failure.
int32_t ReadUsers(std::vector<DumpUser>* users, std::string* what);
// Creates the user with `password` and grants its privileges, a database renamed by
// `database` (the dump's name to the loaded one; grants of databases it leaves out are
// skipped, "*" stays). ResultCode; `what` names a failure.
// `added` runs once the user exists, before its grants (the first user of a server is its
// administrator, and a session without a login may then do no more).
int32_t CreateUser(const DumpUser& user, const std::string& password,
                   const std::function<std::string(const std::string&)>& database,
                   const std::function<int32_t()>& added, std::string* what);

}  // namespace zdb::cli
