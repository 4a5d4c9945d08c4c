#include <algorithm>
#include <cstring>

#include "handlers.h"
#include "rules.h"
#include "status.h"

namespace zdbd {

std::string Trimmed(const std::string& s) {
  const char* ws = " \t\n\v\f\r";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

int32_t SelectedDb(Call& c, Target* t) {
  auto& s = *c.session;
  auto it = s.dbs.find(s.selectedDb);
  if (s.selectedDb.empty() || it == s.dbs.end()) return kNoDatabaseSelected;
  t->db = it->first;
  t->use = &it->second;
  return kOk;
}

int32_t OpenTableNamed(Call& c, const std::string& name, Target* t) {
  if (int32_t rc = SelectedDb(c, t); rc != kOk) return rc;
  std::string table = name.empty() ? t->use->selectedTable : name;
  if (table.empty()) return kNoTableSelected;
  auto it = t->use->tables.find(table);
  if (it == t->use->tables.end()) return kTableNotOpen;
  t->key = table;
  t->table = it->second.table.empty() ? table : it->second.table;
  t->open = &it->second;
  return kOk;
}

std::string AliasTarget(Db& db, const std::string& alias) {
  Stmt s(db, "SELECT tbl FROM zdb_aliases WHERE alias=?");
  s.Bind(1, alias);
  return s.Step() ? s.Text(0) : std::string();
}

std::string ResolveTable(DbUse& use, const std::string& name) {
  if (auto it = use.tables.find(name); it != use.tables.end() && !it->second.table.empty())
    return it->second.table;
  if (TableExists(*use.conn, name)) return name;
  std::string target = AliasTarget(*use.conn, name);
  return target.empty() ? name : target;
}

int32_t SelectedTable(Call& c, Target* t) {
  return OpenTableNamed(c, "", t);
}

int32_t FieldOf(Call& c, const std::string& given, Target* t, FieldInfo* f) {
  std::string name = Trimmed(given), table;
  if (size_t dot = name.find('.'); dot != std::string::npos) {
    table = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  if (int32_t rc = OpenTableNamed(c, table, t); rc != kOk) return rc;
  for (const auto& field : t->use->Fields(t->table)) {
    if (field.name == name) {
      *f = field;
      return kOk;
    }
  }
  return kFieldNotFound;
}

int32_t LoadValue(Target& t, const FieldInfo& f, Value* v) {
  if (t.open->current <= 0) return kNoCurrentRecord;
  Stmt s(*t.use->conn,
         "SELECT " + QuoteIdent(f.name) + " FROM " + QuoteIdent(t.table) + " WHERE rowid=?");
  s.Bind(1, t.open->current);
  if (!s.Step()) return s.Failed() ? StorageFailure(*t.use->conn) : kNoCurrentRecord;
  *v = s.Get(0);
  return kOk;
}

int32_t CheckWritable(Call& c, const Target& t, int64_t record) {
  return c.server.locks.CheckWrite(t.db, t.table, record, c.session->handle);
}

int32_t StoreValue(Call& c, Target& t, const FieldInfo& f, const Value& v) {
  if (t.open->current <= 0) return kNoCurrentRecord;
  if (int32_t rc = CheckWritable(c, t, t.open->current); rc != kOk) return rc;
  if (int32_t rc = CheckValues(*t.use->conn, t.table, t.open->current, {f}, {v}); rc != kOk)
    return rc;
  Stmt s(*t.use->conn,
         "UPDATE " + QuoteIdent(t.table) + " SET " + QuoteIdent(f.name) + "=? WHERE rowid=?");
  s.Bind(1, v).Bind(2, t.open->current);
  if (!s.Run()) return StorageFailure(*t.use->conn);
  return t.use->conn->Changes() ? kOk : kNoCurrentRecord;
}

int32_t CatalogTable(Call& c, const std::string& given, Target* t) {
  if (int32_t rc = SelectedDb(c, t); rc != kOk) return rc;
  t->key = Trimmed(given);
  if (t->key.empty()) t->key = t->use->selectedTable;
  if (t->key.empty()) return kNoTableSelected;
  t->table = ResolveTable(*t->use, t->key);
  if (!TableExists(*t->use->conn, t->table)) return kTableNotFound;
  auto it = t->use->tables.find(t->key);
  t->open = it == t->use->tables.end() ? nullptr : &it->second;
  return kOk;
}

int32_t CatalogField(Call& c, const std::string& given, Target* t, FieldInfo* f) {
  std::string name = Trimmed(given), table;
  if (size_t dot = name.find('.'); dot != std::string::npos) {
    table = name.substr(0, dot);
    name = Trimmed(name.substr(dot + 1));
  }
  if (int32_t rc = CatalogTable(c, table, t); rc != kOk) return rc;
  for (const auto& field : TableFields(*t->use->conn, t->table)) {
    if (field.name == name) {
      *f = field;
      return kOk;
    }
  }
  return kFieldNotFound;
}

std::string FixedText(const uint8_t* p, size_t width) {
  const char* s = reinterpret_cast<const char*>(p);
  return Trimmed(std::string(s, strnlen(s, width)));
}

void PutFixedText(uint8_t* p, size_t width, const std::string& text) {
  std::memset(p, 0, width);
  std::memcpy(p, text.data(), std::min(text.size(), width - 1));
}

bool PrivilegeOk(Call& c, Need need) {
  if (need == Need::kNothing || need == Need::kSession) return true;
  auto& s = *c.session;
  if (!c.server.users.Any()) return true;
  if (s.admin && c.server.users.IsAdmin(s.user)) return true;
  if (need == Need::kAdmin || s.user.empty()) return false;
  std::string table = "*";
  if (need != Need::kDefine) {
    auto it = s.dbs.find(s.selectedDb);
    if (it != s.dbs.end() && !it->second.selectedTable.empty()) {
      // A table selected under an alias carries the table's own privileges.
      table = it->second.selectedTable;
      auto open = it->second.tables.find(table);
      if (open != it->second.tables.end() && !open->second.table.empty())
        table = open->second.table;
    }
  }
  uint32_t want = need == Need::kRead ? kPrivRead : need == Need::kWrite ? kPrivWrite : kPrivDefine;
  return (c.server.users.Bits(s.user, s.selectedDb, table) & want) != 0;
}

}  // namespace zdbd
