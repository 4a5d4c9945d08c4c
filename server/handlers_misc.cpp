// Requests around the tables: aliases, copies of two fields and of whole tables, table numbers
// and structures as field specs, creation by kind, expressions, the session's position, and the
// internal pass-through request.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "handlers.h"
#include "pg_sql.h"
#include "rules.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr size_t kAliasEntry = 66, kSelectorSize = 508;
constexpr uint16_t kFieldSpecFormat = 1;

std::string Qualified(const std::string& table, const std::string& field) {
  std::string t = Trimmed(table);
  return t.empty() ? Trimmed(field) : t + "." + Trimmed(field);
}

// One field spec item per field, in the form the table-creation request reads.
std::string SpecOf(const FieldInfo& f) {
  std::string item = f.name + " " + f.type;
  if (f.subtype != ' ' && f.subtype != 0) item += std::string(" ") + f.subtype;
  return item + " " + std::to_string(f.width);
}

int32_t CopyInto(Db& db, const std::string& from, const std::string& to) {
  auto source = TableFields(db, from);
  auto target = TableFields(db, to);
  std::vector<std::pair<FieldInfo, FieldInfo>> pairs;  // source field, target field
  for (const auto& s : source)
    for (const auto& t : target)
      if (s.name == t.name) pairs.push_back({s, t});
  std::vector<std::vector<Value>> rows;
  std::string cols;
  for (const auto& p : pairs) cols += (cols.empty() ? "" : ", ") + QuoteIdent(p.first.name);
  if (cols.empty()) cols = "NULL";
  Stmt read(db, "SELECT " + cols + " FROM " + QuoteIdent(from) + " ORDER BY rowid");
  while (read.Step()) {
    std::vector<Value> row;
    for (size_t i = 0; i < pairs.size(); ++i) row.push_back(read.Get(static_cast<int>(i)));
    rows.push_back(std::move(row));
  }
  if (!db.Exec("SAVEPOINT zdb_copy")) return StorageFailure(db);
  int32_t rc = kOk;
  std::vector<FieldInfo> fields;
  for (const auto& p : pairs) fields.push_back(p.second);
  for (const auto& row : rows) {
    std::vector<Value> values;
    for (size_t i = 0; i < pairs.size() && rc == kOk; ++i) {
      Value v;
      if (row[i].kind != Value::kNull)
        rc = ParseText(pairs[i].second, ValueText(pairs[i].first, row[i]), &v);
      values.push_back(v);
    }
    int64_t record = 0;
    if (rc == kOk) rc = InsertRecord(db, to, fields, values, &record);
    if (rc != kOk) break;
  }
  if (rc == kOk && db.Exec("RELEASE zdb_copy")) return kOk;
  if (rc == kOk) rc = StorageFailure(db);
  db.Exec("ROLLBACK TO zdb_copy; RELEASE zdb_copy;");
  return rc;
}

}  // namespace

int32_t HAlias(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  Db& db = *t.use->conn;
  std::string alias = Trimmed(c.req.Text(0)), table = Trimmed(c.req.Text(1));
  if (table.empty()) {
    Stmt s(db, "DELETE FROM zdb_aliases WHERE alias=?");
    s.Bind(1, alias);
    if (!s.Run()) return StorageFailure(db);
    return db.Changes() ? kOk : kAliasNotFound;
  }
  if (!IsValidName(alias, 32)) return kBadTableName;
  if (TableExists(db, alias)) return kTableExists;
  if (!TableExists(db, table)) return kTableNotFound;
  Stmt s(db, "INSERT OR REPLACE INTO zdb_aliases VALUES(?,?,?)");
  s.Bind(1, alias).Bind(2, table).Bind(3, c.req.Text(2));
  return s.Run() ? kOk : StorageFailure(db);
}

int32_t HTableAliases(Call& c) {
  Target t;
  auto& out = c.req.slots[0];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(1, 0);
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  Stmt s(*t.use->conn, "SELECT alias, tbl FROM zdb_aliases ORDER BY alias");
  uint32_t n = 0;
  while (s.Step() && (n + 1) * kAliasEntry <= out.size()) {
    PutFixedText(out.data() + kAliasEntry * n, 33, s.Text(0));
    PutFixedText(out.data() + kAliasEntry * n + 33, 33, s.Text(1));
    ++n;
  }
  c.req.PutU32(1, n);
  return kOk;
}

int32_t HCopyTwoFields(Call& c) {
  Target from, to, from2, to2;
  FieldInfo f1, f2, t1, t2;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(0), c.req.Text(1)), &from, &f1); rc != kOk)
    return rc;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(0), c.req.Text(2)), &from2, &f2); rc != kOk)
    return rc;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(3), c.req.Text(4)), &to, &t1); rc != kOk)
    return rc;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(3), c.req.Text(5)), &to2, &t2); rc != kOk)
    return rc;
  Value v1, v2, n1, n2;
  if (int32_t rc = LoadValue(from, f1, &v1); rc != kOk) return rc;
  if (int32_t rc = LoadValue(from, f2, &v2); rc != kOk) return rc;
  if (v1.kind != Value::kNull)
    if (int32_t rc = ParseText(t1, ValueText(f1, v1), &n1); rc != kOk) return rc;
  if (v2.kind != Value::kNull)
    if (int32_t rc = ParseText(t2, ValueText(f2, v2), &n2); rc != kOk) return rc;
  if (to.open->current <= 0) return kNoCurrentRecord;
  if (int32_t rc = CheckWritable(c, to, to.open->current); rc != kOk) return rc;
  Db& db = *to.use->conn;
  if (int32_t rc = CheckValues(db, to.table, to.open->current, {t1, t2}, {n1, n2}); rc != kOk)
    return rc;
  // Both values land in one statement: the copy is whole or not at all.
  Stmt s(db, "UPDATE " + QuoteIdent(to.table) + " SET " + QuoteIdent(t1.name) + "=?, " +
                 QuoteIdent(t2.name) + "=? WHERE rowid=?");
  s.Bind(1, n1).Bind(2, n2).Bind(3, to.open->current);
  if (!s.Run()) return StorageFailure(db);
  return db.Changes() ? kOk : kNoCurrentRecord;
}

int32_t HCopyTable(Call& c) {
  Target from, to;
  if (int32_t rc = CatalogTable(c, c.req.Text(0), &from); rc != kOk) return rc;
  std::string target = Trimmed(c.req.Text(1));
  if (target.empty()) return kBadTableName;
  Db& db = *from.use->conn;
  if (!TableExists(db, ResolveTable(*from.use, target))) {
    // A new table with the source's fields takes the copy.
    if (int32_t rc =
            CreateTable(db, target, TableDescription(db, from.table), TableFields(db, from.table));
        rc != kOk)
      return rc;
  }
  if (int32_t rc = CatalogTable(c, target, &to); rc != kOk) return rc;
  if (to.table == from.table) return kMalformed;
  if (int32_t rc = CheckWritable(c, to, 0); rc != kOk) return rc;
  return CopyInto(db, from.table, to.table);
}

int32_t HTableId(Call& c) {
  Target t;
  c.req.PutText(2, "");
  std::string dbName = Trimmed(c.req.Text(0));
  if (int32_t rc = SelectedDb(c, &t); rc != kOk && dbName.empty()) return rc;
  if (!dbName.empty()) {
    auto it = c.session->dbs.find(dbName);
    if (it == c.session->dbs.end())
      return c.server.data.Exists(dbName) ? kDatabaseNotInUse : kDatabaseNotFound;
    t.db = dbName;
    t.use = &it->second;
  }
  std::string table = ResolveTable(*t.use, Trimmed(c.req.Text(1)));
  Stmt s(*t.use->conn, "SELECT rowid FROM zdb_tables WHERE name=?");
  s.Bind(1, table);
  if (!s.Step()) return kTableNotFound;
  char id[8];
  std::snprintf(id, sizeof id, "%06lld", static_cast<long long>(s.Int(0) % 1000000));
  c.req.PutText(2, id);
  return kOk;
}

int32_t HStructure(Call& c) {
  Target t;
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(2, 0);
  std::string name = FixedText(c.req.Data(0), c.req.Len(0));
  if (int32_t rc = CatalogTable(c, name, &t); rc != kOk) return rc;
  std::string spec;
  uint32_t n = 0;
  for (const auto& f : TableFields(*t.use->conn, t.table)) {
    std::string item = (spec.empty() ? "" : "; ") + SpecOf(f);
    if (spec.size() + item.size() >= out.size()) break;
    spec += item;
    ++n;
  }
  std::memcpy(out.data(), spec.data(), spec.size());
  c.req.PutU32(2, n);
  return kOk;
}

int32_t HFieldSpecFormat(Call& c) {
  wire::PutU16(c.req.Data(0), kFieldSpecFormat);
  return kOk;
}

int32_t HFieldSpecToTable(Call& c) {
  auto& buf = c.req.slots[0];
  std::string text(reinterpret_cast<const char*>(buf.data()),
                   strnlen(reinterpret_cast<const char*>(buf.data()), buf.size()));
  std::vector<FieldInfo> fields;
  if (!ParseFieldSpec(text, &fields)) return kBadFieldDefinition;
  std::string spec;
  for (auto& f : fields) {
    if (!IsValidName(f.name, 32) || !NormaliseField(f)) return kBadFieldDefinition;
    spec += (spec.empty() ? "" : "; ") + SpecOf(f);
  }
  if (spec.size() >= buf.size()) return kBadValue;
  std::fill(buf.begin(), buf.end(), 0);
  std::memcpy(buf.data(), spec.data(), spec.size());
  if (c.req.U32(1) != 1) return kOk;
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  if (!PrivilegeOk(c, Need::kDefine)) return kDenied;
  return CreateTable(*t.use->conn, Trimmed(c.req.Text(3)), "", fields);
}

int32_t HCreate(Call& c) {
  std::string name = Trimmed(c.req.Text(0));
  uint32_t kind = c.req.U32(1);
  bool quietIfThere = (c.req.U32(2) & 1) != 0;
  int32_t rc = kMalformed;
  if (kind == 1) {
    if (!PrivilegeOk(c, Need::kAdmin)) return kDenied;
    rc = c.server.data.Create(name, "");
    if (rc == kDatabaseExists && quietIfThere) rc = kOk;
  } else if (kind == 2) {
    Target t;
    if (int32_t s = SelectedDb(c, &t); s != kOk) return s;
    if (!PrivilegeOk(c, Need::kDefine)) return kDenied;
    rc = CreateTable(*t.use->conn, name, "", {});
    if (rc == kTableExists && quietIfThere) rc = kOk;
  }
  return rc;
}

namespace {

// PostgreSQL has no statement that is read-only by its nature: the expression runs as a script
// does, under the role that reaches the database's data tables only, in a read-only transaction,
// and must stay one statement.
int32_t PgExpressionCheck(Call& c, const Target& t) {
  Db& db = *t.use->conn;
  std::string sql = "SELECT (" + c.req.Text(0) + ") FROM " + Lower(QuoteIdent(t.table)) +
                    " WHERE rowid=" + std::to_string(t.open->current);
  if (SplitStatements(sql).size() != 1) {
    c.session->lastSqlError = "not a single expression";
    return kSqlError;
  }
  bool found = false, truth = false;
  const auto row = [&](const std::vector<Value>& cells) {
    found = true;
    const Value& v = cells.at(0);
    truth = v.kind == Value::kInt    ? v.i != 0
            : v.kind == Value::kReal ? v.d != 0
            : v.kind == Value::kText ? std::strtod(v.s.c_str(), nullptr) != 0
                                     : false;
    return true;
  };
  if (!db.RunScript(
          "START TRANSACTION READ ONLY;" + sql + ";COMMIT",
          [](const std::vector<std::string>&) { return true; }, row)) {
    c.session->lastSqlError = db.Error();
    return kSqlError;
  }
  if (!found) return kNoCurrentRecord;
  return truth ? kOk : kExpressionFalse;
}

}  // namespace

int32_t HExpressionCheck(Call& c) {
  Target t;
  if (int32_t rc = OpenTableNamed(c, Trimmed(c.req.Text(1)), &t); rc != kOk) return rc;
  if (t.open->current <= 0) return kNoCurrentRecord;
  if (t.use->conn->Postgres()) return PgExpressionCheck(c, t);
  std::string sql = "SELECT (" + c.req.Text(0) + ") FROM " + QuoteIdent(t.table) + " WHERE rowid=?";
  sqlite3* h = t.use->conn->Handle();
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int prc = sqlite3_prepare_v2(h, sql.c_str(), -1, &raw, &tail);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  // One read-only expression: nothing after it, nothing it could change.
  std::string rest = tail ? Trimmed(tail) : std::string();
  if (prc != SQLITE_OK || !raw || !rest.empty() || !sqlite3_stmt_readonly(raw)) {
    c.session->lastSqlError = prc != SQLITE_OK ? sqlite3_errmsg(h) : "not a single expression";
    return kSqlError;
  }
  sqlite3_bind_int64(raw, 1, t.open->current);
  int src = sqlite3_step(raw);
  if (src != SQLITE_ROW) {
    c.session->lastSqlError = sqlite3_errmsg(h);
    return src == SQLITE_DONE ? kNoCurrentRecord : kSqlError;
  }
  bool truth = sqlite3_column_type(raw, 0) != SQLITE_NULL && sqlite3_column_double(raw, 0) != 0;
  return truth ? kOk : kExpressionFalse;
}

int32_t HSelector(Call& c) {
  uint8_t* out = c.req.Data(0);
  std::memset(out, 0, kSelectorSize);
  auto& s = *c.session;
  wire::PutU16(c.req.Data(1), static_cast<uint16_t>(s.dbs.size()));
  PutFixedText(out, 9, s.selectedDb);
  Target t;
  if (SelectedDb(c, &t) != kOk) return kOk;
  PutFixedText(out + 9, 33, t.use->selectedTable);
  Target sel;
  if (SelectedTable(c, &sel) == kOk) {
    wire::PutU32(out + 42, static_cast<uint32_t>(sel.open->current));
    wire::PutU32(out + 46, static_cast<uint32_t>(RecordCount(*t.use->conn, sel.table)));
  }
  wire::PutU32(out + 50, static_cast<uint32_t>(t.use->tables.size()));
  size_t i = 0;
  for (const auto& [key, open] : t.use->tables) {
    if (54 + 33 * (i + 1) > kSelectorSize) break;
    PutFixedText(out + 54 + 33 * i++, 33, key);
  }
  return kOk;
}

int32_t HInternal(Call& c) {
  auto& in = c.req.slots[1];
  auto& out = c.req.slots[2];
  switch (c.req.U32(0)) {
    case 1:  // echo: proves the path through the server byte for byte
      std::fill(out.begin(), out.end(), 0);
      std::copy(in.begin(), in.begin() + std::min(in.size(), out.size()), out.begin());
      return kOk;
    case 2: {  // statistics
      std::string text = "sessions=" + std::to_string(c.server.sessions.Count()) +
                         "\nrequests=" + std::to_string(c.server.requests.load()) +
                         "\ndatabases=" + std::to_string(c.server.data.List().size()) +
                         "\nlocks=" + std::to_string(c.server.locks.Count()) + "\n";
      std::fill(out.begin(), out.end(), 0);
      std::memcpy(out.data(), text.data(), std::min(text.size(), out.size() ? out.size() - 1 : 0));
      return kOk;
    }
    default:
      return kMalformed;
  }
}

}  // namespace zdbd
