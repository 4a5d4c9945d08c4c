#include "zdb/table_rules.h"

#include <cstdlib>
#include <cstring>

#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr size_t kName = 33;

std::string Text(const char* p, size_t width) {
  return std::string(p, strnlen(p, width));
}

// A writable copy of a name for the calls that write their copy back into it.
std::vector<char> Writable(const std::string& s) {
  std::vector<char> b(s.begin(), s.end());
  b.resize(std::max<size_t>(b.size() + 1, 64), 0);
  return b;
}

int32_t ReadIndexes(std::vector<TableRule>* rules, std::string* what) {
  int32_t count = 0;
  std::vector<char> list(3600, 0);
  *what = "listing the indexes";
  int32_t r = Z_TableIndex(&count, list.data());
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count && i < 100; ++i) {
    const char* rec = list.data() + i * 36;
    TableRule rule{TableRule::kIndex, "", Text(rec, kName), "", rec[33] ? 1 : 0, ""};
    std::vector<char> name = Writable(rule.name), fields(3900, 0);
    int32_t n = 0;
    *what = "the fields of index " + rule.name;
    if ((r = Z_IndexFields(name.data(), &n, fields.data())) != ZDB_OK) return r;
    for (int32_t f = 0; f < n && f < 118; ++f)
      rule.value += (f ? "," : "") + Text(fields.data() + f * kName, kName);
    rules->push_back(rule);
  }
  return ZDB_OK;
}

int32_t ReadFieldRules(const FieldDef& f, std::vector<TableRule>* rules, std::string* what) {
  int32_t count = 0;
  unsigned char numbers[250] = {};
  std::vector<char> name = Writable(f.name);
  *what = "the constraints of " + f.name;
  int32_t r = Z_FieldConstrain(name.data(), &count, numbers);
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count && i < 125; ++i) {
    std::string rec(ZDB_CONSTRAINT_RECORD_SIZE, '\0');
    name = Writable(f.name);
    const int number = numbers[2 * i] | numbers[2 * i + 1] << 8;
    *what = "constraint " + std::to_string(number) + " of " + f.name;
    if ((r = Z_GetConstrain(name.data(), number, rec.data())) != ZDB_OK) return r;
    rules->push_back({TableRule::kConstraint, f.name, "", "", 0, rec});
  }
  char value[513] = {};
  name = Writable(f.name);
  *what = "the default value of " + f.name;
  r = Z_GetDefaultValue(name.data(), value);
  if (r == ZDB_OK)
    rules->push_back({TableRule::kDefault, f.name, "", Text(value, sizeof value), 0, ""});
  else if (r != 4036)
    return r;
  std::vector<char> xrefs(29700, 0);
  count = 0;
  name = Writable(f.name);
  *what = "the cross references of " + f.name;
  if ((r = Z_XRefFromField(name.data(), xrefs.data(), &count)) != ZDB_OK) return r;
  for (int32_t i = 0; i < count && i < 100; ++i)
    rules->push_back({TableRule::kXref, f.name, "", "", 0, std::string(&xrefs[i * 297], 297)});
  return ZDB_OK;
}

// The database's aliases come as one list; a table's dump keeps the ones that name it.
int32_t ReadAliases(const std::string& table, std::vector<TableRule>* rules, std::string* what) {
  constexpr size_t kEntry = 2 * kName, kEntries = 50;
  std::vector<char> list(kEntries * kEntry, 0);
  int32_t count = 0;
  *what = "listing the aliases";
  const int32_t r = Z_TableAlias(list.data(), &count);
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count && static_cast<size_t>(i) < kEntries; ++i) {
    const char* entry = list.data() + i * kEntry;
    if (Text(entry + kName, kName) == table)
      rules->push_back({TableRule::kAlias, "", Text(entry, kName), table, 0, ""});
  }
  return ZDB_OK;
}

}  // namespace

int32_t ReadTableRules(const std::string& table, const std::vector<FieldDef>& fields,
                       std::vector<TableRule>* rules, std::string* what) {
  int32_t r = ReadIndexes(rules, what);
  if (r == ZDB_OK) r = ReadAliases(table, rules, what);
  for (size_t i = 0; r == ZDB_OK && i < fields.size(); ++i)
    r = ReadFieldRules(fields[i], rules, what);
  return r;
}

std::string RuleLabel(const TableRule& rule) {
  switch (rule.kind) {
    case TableRule::kIndex:
      return "index " + rule.name;
    case TableRule::kConstraint: {
      const auto* d = reinterpret_cast<const unsigned char*>(rule.data.data());
      return "constraint " + std::to_string(rule.data.size() > 34 ? d[33] | d[34] << 8 : 0) +
             " of " + rule.field;
    }
    case TableRule::kDefault:
      return "the default value of " + rule.field;
    case TableRule::kXref:
      return "cross reference " + Text(rule.data.data(), kName);
    case TableRule::kAlias:
      return "alias " + rule.name;
  }
  return "a rule";
}

int32_t ApplyTableRule(const TableRule& rule, std::string* what) {
  *what = RuleLabel(rule);
  switch (rule.kind) {
    case TableRule::kIndex:
      return Z_UpdIFields(rule.name.c_str(), rule.value.c_str(), rule.flags);
    case TableRule::kConstraint: {
      if (rule.data.size() != ZDB_CONSTRAINT_RECORD_SIZE) return ZDB_ERR_ARGUMENT;
      std::string rec = rule.data;
      return Z_AddConstrain(rule.field.c_str(), rec.data());
    }
    case TableRule::kDefault:
      return Z_PutDefaultValue(rule.field.c_str(), rule.value.c_str());
    case TableRule::kXref: {
      if (rule.data.size() != ZDB_XREF_RECORD_SIZE) return ZDB_ERR_ARGUMENT;
      const char* d = rule.data.data();
      const auto at = [d](size_t off, size_t n) { return Text(d + off, n); };
      const std::string name = at(0, kName), from = at(34, kName), fromField = at(67, kName),
                        to = at(100, kName), toField = at(133, kName), how = at(166, 9),
                        text = at(175, 122);
      return d[33] == 'T' ? Z_AddTXREF(name.c_str(), from.c_str(), fromField.c_str(), to.c_str(),
                                       "", how.c_str(), text.c_str())
                          : Z_AddFXREF(name.c_str(), from.c_str(), fromField.c_str(), to.c_str(),
                                       toField.c_str(), how.c_str(), text.c_str());
    }
    case TableRule::kAlias:
      // The server's alias list carries no description, so none can come back.
      return ZDB_Alias(rule.name.c_str(), rule.value.c_str(), "");
  }
  return ZDB_ERR_ARGUMENT;
}

int32_t ReadUsers(std::vector<DumpUser>* users, std::string* what) {
  int32_t count = 0, admins = 0;
  char reserved[64] = {};
  *what = "counting the users";
  int32_t r = Z_NumUsers(reserved, &count, &admins);
  if (r != ZDB_OK || count <= 0) return r;
  std::vector<char> names(static_cast<size_t>(count) * ZDB_USER_NAME_SIZE, 0);
  *what = "listing the users";
  if ((r = Z_GetUsers(reserved, count, names.data())) != ZDB_OK) return r;
  for (int32_t i = 0; i < count; ++i) {
    DumpUser u{Text(&names[static_cast<size_t>(i) * ZDB_USER_NAME_SIZE], ZDB_USER_NAME_SIZE),
               "USER", ""};
    std::vector<char> name = Writable(u.name), info(10000, 0);
    *what = "user " + u.name;
    if ((r = Z_ReadUser(name.data(), reserved, info.data())) != ZDB_OK) return r;
    const std::string text = Text(info.data(), info.size());
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      if (line.rfind("role=", 0) == 0) u.role = line.substr(5);
      if (line.rfind("grant=", 0) == 0) u.grants += line.substr(6) + "\n";
      start = end + 1;
    }
    users->push_back(u);
  }
  return ZDB_OK;
}

int32_t CreateUser(const DumpUser& user, const std::string& password,
                   const std::function<std::string(const std::string&)>& database,
                   const std::function<int32_t()>& added, std::string* what) {
  *what = "adding user " + user.name;
  int32_t r = Z_AddUser(user.name.c_str(), password.c_str(), user.role.c_str());
  if (r == ZDB_OK) {
    *what = "logging in as " + user.name;
    r = added();
  }
  for (size_t start = 0; r == ZDB_OK && start < user.grants.size();) {
    size_t end = user.grants.find('\n', start);
    if (end == std::string::npos) end = user.grants.size();
    const std::string grant = user.grants.substr(start, end - start);
    start = end + 1;
    const size_t dot = grant.find('.'), colon = grant.rfind(':');
    if (dot == std::string::npos || colon == std::string::npos || colon < dot) continue;
    const std::string db = database(grant.substr(0, dot));
    if (db.empty()) continue;
    *what = "granting " + grant + " to " + user.name;
    r = Z_Grant(user.name.c_str(), db.c_str(), grant.substr(dot + 1, colon - dot - 1).c_str(), "",
                std::atoi(grant.c_str() + colon + 1));
  }
  return r;
}

}  // namespace zdb::cli
