#include "rules.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

#include "pg_sql.h"
#include "schema.h"
#include "status.h"

namespace zdbd {

namespace {

bool IsNumericField(const FieldInfo& f) {
  return f.type == 'N' || f.type == 'I' || (f.type == 'C' && f.subtype == 'N');
}

bool Empty(const Value& v) {
  return v.kind == Value::kNull ||
         ((v.kind == Value::kText || v.kind == Value::kBlob) && v.s.empty());
}

std::string Strip(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// -1, 0, 1 as a field of this type orders the two texts; numbers as numbers.
int Compare(const FieldInfo& f, const std::string& a, const std::string& b) {
  if (IsNumericField(f)) {
    double x = std::strtod(a.c_str(), nullptr), y = std::strtod(b.c_str(), nullptr);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool Exists(Db& db, const std::string& sql, const Value& v, int64_t exclude) {
  Stmt s(db, sql);
  s.Bind(1, v);
  if (exclude) s.Bind(2, exclude);
  return s.Step();
}

bool Glob(Db& db, const std::string& pattern, const std::string& text) {
  if (db.Postgres()) return GlobMatch(pattern, text);
  Stmt s(db, "SELECT ? GLOB ?");
  s.Bind(1, text).Bind(2, pattern);
  return s.Step() && s.Int(0) == 1;
}

int32_t CheckConstraint(Db& db, const std::string& table, int64_t rowid, const FieldInfo& f,
                        const Constraint& c, const Value& v) {
  if (c.kind == 'M') return Empty(v) ? kConstraintViolated : kOk;
  if (Empty(v)) return kOk;  // only 'M' asks for a value
  std::string text = ValueText(f, v);
  switch (c.kind) {
    case 'R':
      if (!c.v1.empty() && Compare(f, text, c.v1) < 0) return kConstraintViolated;
      if (!c.v2.empty() && Compare(f, text, c.v2) > 0) return kConstraintViolated;
      return kOk;
    case 'L': {
      std::stringstream items(c.v1);
      for (std::string item; std::getline(items, item, ',');)
        if (Compare(f, text, Strip(item)) == 0) return kOk;
      return kConstraintViolated;
    }
    case 'P':
      return Glob(db, c.v1, text) ? kOk : kConstraintViolated;
    case 'U':
      return Exists(db,
                    "SELECT 1 FROM " + QuoteIdent(table) + " WHERE " + QuoteIdent(f.name) +
                        "=? AND rowid<>? LIMIT 1",
                    v, rowid ? rowid : -1)
                 ? kConstraintViolated
                 : kOk;
    default:
      return kOk;
  }
}

Value LoadOne(Db& db, const std::string& table, const std::string& field, int64_t rowid) {
  Stmt s(db, "SELECT " + QuoteIdent(field) + " FROM " + QuoteIdent(table) + " WHERE rowid=?");
  s.Bind(1, rowid);
  return s.Step() ? s.Get(0) : Value::Null();
}

// The record a from-value points at exists.
bool Target(Db& db, const Xref& x, const Value& v) {
  if (x.kind == 'T' || x.toField.empty()) {
    std::string text = v.kind == Value::kText ? v.s : ValueText(FieldInfo{}, v);
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end) return false;
    return Exists(db, "SELECT 1 FROM " + QuoteIdent(x.toTable) + " WHERE rowid=?", Value::Int(n),
                  0);
  }
  return Exists(
      db,
      "SELECT 1 FROM " + QuoteIdent(x.toTable) + " WHERE " + QuoteIdent(x.toField) + "=? LIMIT 1",
      v, 0);
}

// The key by which records of the from-table point at record `rowid` of the to-table.
Value KeyOf(Db& db, const Xref& x, int64_t rowid) {
  if (x.kind == 'T' || x.toField.empty()) return Value::Int(rowid);
  return LoadOne(db, x.toTable, x.toField, rowid);
}

bool Referenced(Db& db, const Xref& x, const Value& key) {
  if (Empty(key)) return false;
  return Exists(db,
                "SELECT 1 FROM " + QuoteIdent(x.fromTable) + " WHERE " + QuoteIdent(x.fromField) +
                    "=? LIMIT 1",
                key, 0);
}

template <typename Work>
int32_t InSavepoint(Db& db, Work work) {
  if (!db.Exec("SAVEPOINT zdb_rules")) return StorageFailure(db);
  int32_t rc = work();
  if (rc == kOk && db.Exec("RELEASE zdb_rules")) return kOk;
  if (rc == kOk) rc = StorageFailure(db);
  db.Exec("ROLLBACK TO zdb_rules; RELEASE zdb_rules;");
  return rc;
}

int32_t DeleteIn(Db& db, const std::string& table, int64_t rowid, int depth);

int32_t ApplyDeleteRules(Db& db, const std::string& table, int64_t rowid, int depth) {
  if (depth > 16) return kStillReferenced;  // a cycle of cascades
  for (const auto& x : Xrefs(db)) {
    if (x.toTable != table) continue;
    Value key = KeyOf(db, x, rowid);
    if (!Referenced(db, x, key)) continue;
    if (x.rule == "CASCADE") {
      std::vector<int64_t> children;
      Stmt s(db, "SELECT rowid FROM " + QuoteIdent(x.fromTable) + " WHERE " +
                     QuoteIdent(x.fromField) + "=?");
      s.Bind(1, key);
      while (s.Step()) children.push_back(s.Int(0));
      for (int64_t child : children)
        if (int32_t rc = DeleteIn(db, x.fromTable, child, depth + 1); rc != kOk) return rc;
    } else if (x.rule == "NULLIFY") {
      Stmt s(db, "UPDATE " + QuoteIdent(x.fromTable) + " SET " + QuoteIdent(x.fromField) +
                     "=NULL WHERE " + QuoteIdent(x.fromField) + "=?");
      s.Bind(1, key);
      if (!s.Run()) return StorageFailure(db);
    } else {
      return kStillReferenced;
    }
  }
  return kOk;
}

int32_t DeleteIn(Db& db, const std::string& table, int64_t rowid, int depth) {
  if (int32_t rc = ApplyDeleteRules(db, table, rowid, depth); rc != kOk) return rc;
  Stmt s(db, "DELETE FROM " + QuoteIdent(table) + " WHERE rowid=?");
  s.Bind(1, rowid);
  if (!s.Run()) return StorageFailure(db);
  return db.Changes() ? kOk : kRecordNotFound;
}

bool Run(Db& db, const std::string& sql, const std::vector<std::string>& args) {
  Stmt s(db, sql);
  for (size_t i = 0; i < args.size(); ++i) s.Bind(static_cast<int>(i + 1), args[i]);
  return s.Run();
}

}  // namespace

bool EnsureRuleCatalog(Db& db) {
  return db.Exec(
      "CREATE TABLE IF NOT EXISTS zdb_constraints(tbl TEXT, num INTEGER, field TEXT, kind TEXT,"
      " v1 TEXT, v2 TEXT, description TEXT, PRIMARY KEY(tbl, num));"
      "CREATE TABLE IF NOT EXISTS zdb_defaults(tbl TEXT, field TEXT, value TEXT,"
      " PRIMARY KEY(tbl, field));"
      "CREATE TABLE IF NOT EXISTS zdb_xrefs(name TEXT PRIMARY KEY, kind TEXT, ftbl TEXT,"
      " ffield TEXT, ttbl TEXT, tfield TEXT, rule TEXT, description TEXT);");
}

std::vector<Constraint> Constraints(Db& db, const std::string& table, const std::string& field) {
  std::vector<Constraint> out;
  Stmt s(db,
         "SELECT num, field, kind, v1, v2, description FROM zdb_constraints WHERE tbl=? AND "
         "(?='' OR field=?) ORDER BY num");
  s.Bind(1, table).Bind(2, field).Bind(3, field);
  while (s.Step()) {
    Constraint c;
    c.number = static_cast<int>(s.Int(0));
    c.field = s.Text(1);
    std::string kind = s.Text(2);
    c.kind = kind.empty() ? 'M' : kind[0];
    c.v1 = s.Text(3);
    c.v2 = s.Text(4);
    c.description = s.Text(5);
    out.push_back(c);
  }
  return out;
}

int32_t CheckConstraintDefinition(const FieldInfo& f, const Constraint& c) {
  if (std::string("MRLPU").find(c.kind) == std::string::npos || c.kind == 0)
    return kBadFieldDefinition;
  Value scratch;
  if (c.kind == 'R') {
    if (c.v1.empty() && c.v2.empty()) return kBadFieldDefinition;
    for (const auto& bound : {c.v1, c.v2})
      if (!bound.empty() && ParseText(f, bound, &scratch) != kOk) return kBadFieldDefinition;
  }
  if ((c.kind == 'L' || c.kind == 'P') && c.v1.empty()) return kBadFieldDefinition;
  return kOk;
}

int32_t AddConstraint(Db& db, const std::string& table, Constraint* c) {
  if (c->number == 0) {
    Stmt n(db, "SELECT coalesce(max(num), 0) + 1 FROM zdb_constraints WHERE tbl=?");
    n.Bind(1, table);
    c->number = n.Step() ? static_cast<int>(n.Int(0)) : 1;
  }
  if (c->number < 1 || c->number > 65535) return kBadFieldDefinition;
  Stmt s(db, "INSERT OR IGNORE INTO zdb_constraints VALUES(?,?,?,?,?,?,?)");
  s.Bind(1, table).Bind(2, static_cast<int64_t>(c->number)).Bind(3, c->field);
  s.Bind(4, std::string(1, c->kind)).Bind(5, c->v1).Bind(6, c->v2).Bind(7, c->description);
  if (!s.Run()) return StorageFailure(db);
  return db.Changes() ? kOk : kBadFieldDefinition;  // the number is taken
}

int32_t ReplaceConstraint(Db& db, const std::string& table, const Constraint& c) {
  if (!Run(db,
           "UPDATE zdb_constraints SET field=?, kind=?, v1=?, v2=?, description=? WHERE tbl=? AND "
           "num=?",
           {c.field, std::string(1, c.kind), c.v1, c.v2, c.description, table,
            std::to_string(c.number)}))
    return StorageFailure(db);
  return db.Changes() ? kOk : kConstraintNotFound;
}

int32_t DeleteConstraint(Db& db, const std::string& table, const std::string& field, int number) {
  bool ok = number == 0
                ? Run(db, "DELETE FROM zdb_constraints WHERE tbl=? AND field=?", {table, field})
                : Run(db, "DELETE FROM zdb_constraints WHERE tbl=? AND field=? AND num=?",
                      {table, field, std::to_string(number)});
  if (!ok) return StorageFailure(db);
  return db.Changes() ? kOk : kConstraintNotFound;
}

bool GetDefault(Db& db, const std::string& table, const std::string& field, std::string* value) {
  Stmt s(db, "SELECT value FROM zdb_defaults WHERE tbl=? AND field=?");
  s.Bind(1, table).Bind(2, field);
  if (!s.Step()) return false;
  *value = s.Text(0);
  return true;
}

int32_t SetDefault(Db& db, const std::string& table, const std::string& field,
                   const std::string& value, bool remove) {
  if (remove) {
    if (!Run(db, "DELETE FROM zdb_defaults WHERE tbl=? AND field=?", {table, field}))
      return StorageFailure(db);
    return db.Changes() ? kOk : kNoDefault;
  }
  return Run(db, "INSERT OR REPLACE INTO zdb_defaults VALUES(?,?,?)", {table, field, value})
             ? kOk
             : StorageFailure(db);
}

std::vector<Xref> Xrefs(Db& db) {
  std::vector<Xref> out;
  Stmt s(db,
         "SELECT name, kind, ftbl, ffield, ttbl, tfield, rule, description FROM zdb_xrefs ORDER "
         "BY name");
  while (s.Step()) {
    Xref x;
    x.name = s.Text(0);
    std::string kind = s.Text(1);
    x.kind = kind.empty() ? 'F' : kind[0];
    x.fromTable = s.Text(2);
    x.fromField = s.Text(3);
    x.toTable = s.Text(4);
    x.toField = s.Text(5);
    x.rule = s.Text(6);
    x.description = s.Text(7);
    out.push_back(x);
  }
  return out;
}

int32_t AddXref(Db& db, const Xref& x) {
  for (const auto& have : Xrefs(db))
    if (have.name == x.name || (have.fromTable == x.fromTable && have.fromField == x.fromField &&
                                have.toTable == x.toTable && have.toField == x.toField))
      return kXrefExists;
  return Run(db, "INSERT INTO zdb_xrefs VALUES(?,?,?,?,?,?,?,?)",
             {x.name, std::string(1, x.kind), x.fromTable, x.fromField, x.toTable, x.toField,
              x.rule, x.description})
             ? kOk
             : StorageFailure(db);
}

int32_t DeleteXref(Db& db, const std::string& name) {
  if (!Run(db, "DELETE FROM zdb_xrefs WHERE name=?", {name})) return StorageFailure(db);
  return db.Changes() ? kOk : kXrefNotFound;
}

// Most tables have no rules at all; one cheap look spares the record path everything else.
// A failed look answers true (the full check runs) and clears *ok.
static bool ReadHasRules(Db& db, const std::string& table, bool* ok) {
  Stmt s(db,
         "SELECT EXISTS(SELECT 1 FROM zdb_constraints WHERE tbl=?1) OR EXISTS(SELECT 1 FROM "
         "zdb_xrefs WHERE ftbl=?1 OR ttbl=?1)");
  s.Bind(1, table);
  if (s.Step()) return s.Int(0) != 0;
  *ok = false;
  return true;
}

using Defaults = std::vector<std::pair<std::string, std::string>>;

static Defaults ReadDefaults(Db& db, const std::string& table, bool* ok) {
  Defaults out;
  Stmt d(db, "SELECT field, value FROM zdb_defaults WHERE tbl=?");
  d.Bind(1, table);
  while (d.Step()) out.push_back({d.Text(0), d.Text(1)});
  if (d.Failed()) *ok = false;
  return out;
}

// Over PostgreSQL each of these looks is a round trip on every write: what a connection read
// is kept until the catalog generation moves (a change here, or one another zdbd committed).
struct RulesOfTable {
  uint64_t generation = 0;
  bool hasRules = false;
  Defaults defaults;
};

static RulesOfTable TableRules(Db& db, const std::string& table) {
  bool ok = true;
  if (!db.Postgres()) return {0, ReadHasRules(db, table, &ok), ReadDefaults(db, table, &ok)};
  static std::mutex mutex;
  static std::map<std::pair<const Db*, std::string>, RulesOfTable> cache;
  const uint64_t now = Db::CatalogGeneration();  // before the read: a change after it shows
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find({&db, table});
    if (it != cache.end() && it->second.generation == now) return it->second;
  }
  RulesOfTable read{now, ReadHasRules(db, table, &ok), ReadDefaults(db, table, &ok)};
  // What a failed look found serves this request only (which fails or is carried out again).
  if (!ok) return read;
  std::lock_guard<std::mutex> lock(mutex);
  if (cache.size() > 4096) cache.clear();
  cache[{&db, table}] = read;
  return read;
}

static bool HasRules(Db& db, const std::string& table) {
  return TableRules(db, table).hasRules;
}

int32_t CheckValues(Db& db, const std::string& table, int64_t rowid,
                    const std::vector<FieldInfo>& fields, const std::vector<Value>& values) {
  if (fields.empty() || !HasRules(db, table)) return kOk;
  auto rules = Constraints(db, table, "");
  auto xrefs = Xrefs(db);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& f = fields[i];
    const Value& v = values[i];
    for (const auto& c : rules)
      if (c.field == f.name)
        if (int32_t rc = CheckConstraint(db, table, rowid, f, c, v); rc != kOk) return rc;
    for (const auto& x : xrefs) {
      if (x.fromTable == table && x.fromField == f.name && !Empty(v) && !Target(db, x, v))
        return kNoReferencedRecord;
      // A key that records point at may not change under them.
      if (rowid > 0 && x.toTable == table && x.kind == 'F' && x.toField == f.name) {
        Value old = LoadOne(db, table, f.name, rowid);
        if (ValueText(f, old) != ValueText(f, v) && Referenced(db, x, old)) return kStillReferenced;
      }
    }
  }
  return kOk;
}

int32_t InsertRecord(Db& db, const std::string& table, const std::vector<FieldInfo>& given,
                     const std::vector<Value>& givenValues, int64_t* rowid) {
  std::vector<FieldInfo> fields = given;
  std::vector<Value> values = givenValues;
  const RulesOfTable rules = TableRules(db, table);
  const Defaults& defaults = rules.defaults;
  for (const auto& f : defaults.empty() ? std::vector<FieldInfo>{} : TableFields(db, table)) {
    bool listed = false;
    for (const auto& g : given) listed = listed || g.name == f.name;
    const std::string* text = nullptr;
    for (const auto& [field, value] : defaults)
      if (field == f.name) text = &value;
    if (listed || !text) continue;
    Value v;
    if (ParseText(f, *text, &v) != kOk) return kBadValue;
    fields.push_back(f);
    values.push_back(v);
  }
  if (int32_t rc = CheckValues(db, table, 0, fields, values); rc != kOk) return rc;
  std::string sql = "INSERT INTO " + QuoteIdent(table);
  if (fields.empty()) {
    sql += " DEFAULT VALUES";
  } else {
    std::string names, marks;
    for (size_t i = 0; i < fields.size(); ++i) {
      names += (i ? ", " : "") + QuoteIdent(fields[i].name);
      marks += i ? ", ?" : "?";
    }
    sql += "(" + names + ") VALUES(" + marks + ")";
  }
  Stmt s(db, sql);
  for (size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i + 1), values[i]);
  if (!s.Run()) return StorageFailure(db);
  *rowid = db.LastRowId();
  return kOk;
}

int32_t DeleteRecord(Db& db, const std::string& table, int64_t rowid) {
  return InSavepoint(db, [&] { return DeleteIn(db, table, rowid, 0); });
}

int32_t ClearRecords(Db& db, const std::string& table) {
  bool referenced = false;
  for (const auto& x : Xrefs(db)) referenced = referenced || x.toTable == table;
  if (!referenced) return db.Exec("DELETE FROM " + QuoteIdent(table)) ? kOk : StorageFailure(db);
  return InSavepoint(db, [&]() -> int32_t {
    std::vector<int64_t> records;
    Stmt s(db, "SELECT rowid FROM " + QuoteIdent(table));
    while (s.Step()) records.push_back(s.Int(0));
    for (int64_t r : records) {
      int32_t rc = DeleteIn(db, table, r, 0);
      if (rc != kOk && rc != kRecordNotFound) return rc;  // a cascade may have taken it already
    }
    return kOk;
  });
}

int64_t DanglingCount(Db& db, const Xref& x) {
  int64_t n = 0;
  Stmt s(db, "SELECT " + QuoteIdent(x.fromField) + " FROM " + QuoteIdent(x.fromTable));
  while (s.Step()) {
    Value v = s.Get(0);
    if (!Empty(v) && !Target(db, x, v)) ++n;
  }
  return n;
}

bool RulesRenameTable(Db& db, const std::string& from, const std::string& to) {
  return Run(db, "UPDATE zdb_constraints SET tbl=? WHERE tbl=?", {to, from}) &&
         Run(db, "UPDATE zdb_defaults SET tbl=? WHERE tbl=?", {to, from}) &&
         Run(db, "UPDATE zdb_xrefs SET ftbl=? WHERE ftbl=?", {to, from}) &&
         Run(db, "UPDATE zdb_xrefs SET ttbl=? WHERE ttbl=?", {to, from});
}

bool RulesDropTable(Db& db, const std::string& table) {
  return Run(db, "DELETE FROM zdb_constraints WHERE tbl=?", {table}) &&
         Run(db, "DELETE FROM zdb_defaults WHERE tbl=?", {table}) &&
         Run(db, "DELETE FROM zdb_xrefs WHERE ftbl=? OR ttbl=?", {table, table});
}

bool RulesRenameField(Db& db, const std::string& table, const std::string& from,
                      const std::string& to) {
  return Run(db, "UPDATE zdb_constraints SET field=? WHERE tbl=? AND field=?", {to, table, from}) &&
         Run(db, "UPDATE zdb_defaults SET field=? WHERE tbl=? AND field=?", {to, table, from}) &&
         Run(db, "UPDATE zdb_xrefs SET ffield=? WHERE ftbl=? AND ffield=?", {to, table, from}) &&
         Run(db, "UPDATE zdb_xrefs SET tfield=? WHERE ttbl=? AND tfield=?", {to, table, from});
}

bool RulesDropField(Db& db, const std::string& table, const std::string& field) {
  return Run(db, "DELETE FROM zdb_constraints WHERE tbl=? AND field=?", {table, field}) &&
         Run(db, "DELETE FROM zdb_defaults WHERE tbl=? AND field=?", {table, field}) &&
         Run(db, "DELETE FROM zdb_xrefs WHERE (ftbl=? AND ffield=?) OR (ttbl=? AND tfield=?)",
             {table, field, table, field});
}

}  // namespace zdbd
