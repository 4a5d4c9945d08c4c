#include "schema.h"

#include <sqlite3.h>

#include <cctype>
#include <sstream>

#include "pg_rules.h"
#include "pg_sql.h"
#include "rules.h"
#include "status.h"

namespace zdbd {

std::string StorageType(Db& db, const FieldInfo& f) {
  if (!db.Postgres()) return ColumnType(f);
  return PgColumnType(f.type, f.subtype, f.width, Lower(QuoteIdent(f.name)));
}

bool IsValidName(const std::string& name, size_t max) {
  if (name.empty() || name.size() > max) return false;
  if (!std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return name.rfind("zdb_", 0) != 0 && name.rfind("sqlite_", 0) != 0;
}

bool EnsureCatalog(Db& db) {
  return db.Exec(
             "CREATE TABLE IF NOT EXISTS zdb_tables(name TEXT PRIMARY KEY, description TEXT);"
             "CREATE TABLE IF NOT EXISTS zdb_fields(tbl TEXT, pos INTEGER, name TEXT, type TEXT,"
             " subtype TEXT, width INTEGER, description TEXT, PRIMARY KEY(tbl, name));"
             "CREATE TABLE IF NOT EXISTS zdb_indexes(tbl TEXT, name TEXT, sqlname TEXT,"
             " uniq INTEGER, PRIMARY KEY(tbl, name));"
             "CREATE TABLE IF NOT EXISTS zdb_aliases(alias TEXT PRIMARY KEY, tbl TEXT,"
             " description TEXT);") &&
         EnsureRuleCatalog(db) && AdoptOldIndexes(db) && CountCatalogChanges(db) &&
         EnsurePgRules(db);
}

bool CountCatalogChanges(Db& db) {
  if (!db.Postgres()) return true;  // one zdbd per file: its own changes are all there are
  // Other zdbd on the database know their cached definitions are old by this count.
  return db.ExecNative(
      "DO $$DECLARE t text; BEGIN"
      " FOREACH t IN ARRAY ARRAY['zdb_tables', 'zdb_fields', 'zdb_indexes', 'zdb_aliases',"
      "  'zdb_constraints', 'zdb_defaults', 'zdb_xrefs'] LOOP"
      "  IF NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgname = 'zdb_generation'"
      "   AND tgrelid = t::regclass) THEN"
      "   EXECUTE format('CREATE TRIGGER zdb_generation AFTER INSERT OR UPDATE OR DELETE OR"
      " TRUNCATE ON %I FOR EACH STATEMENT EXECUTE FUNCTION zdb_system.zdb_bump()', t);"
      "  END IF;"
      " END LOOP;"
      " EXCEPTION WHEN duplicate_object THEN NULL;"
      " END$$");
}

bool AdoptOldIndexes(Db& db) {
  if (db.Postgres()) return true;  // PostgreSQL schemas were never made by the first zdbd
  // The first zdbd named the SQLite index of ZDB index I on table T "ix_T_I" and kept no row
  // for it; files made then list such indexes like any other from their first use on.
  return db.Exec(
      "INSERT INTO zdb_indexes(tbl, name, sqlname, uniq)"
      " SELECT m.tbl_name, substr(m.name, length(m.tbl_name) + 5), m.name,"
      "  coalesce((SELECT l.\"unique\" FROM pragma_index_list(m.tbl_name) l"
      "   WHERE l.name = m.name), 0)"
      " FROM sqlite_master m"
      " WHERE m.type = 'index' AND length(m.name) > length(m.tbl_name) + 4"
      "  AND substr(m.name, 1, length(m.tbl_name) + 4) = 'ix_' || m.tbl_name || '_'"
      "  AND m.tbl_name IN (SELECT name FROM zdb_tables)"
      "  AND m.name NOT IN (SELECT sqlname FROM zdb_indexes)"
      "  AND NOT EXISTS (SELECT 1 FROM zdb_indexes i WHERE i.tbl = m.tbl_name"
      "   AND i.name = substr(m.name, length(m.tbl_name) + 5))"
      " ORDER BY m.rowid");
}

int32_t StorageFailure(Db& db) {
  if (db.ErrorCode() == SQLITE_CONSTRAINT) return kConstraintViolated;
  if (db.ErrorCode() == SQLITE_MISMATCH) return kBadValue;  // text the code page cannot carry
  if (db.ErrorCode() == SQLITE_FULL) return kDiskFull;
  return IsBusyCode(db.ErrorCode()) ? kBusy : kInternal;
}

bool TableExists(Db& db, const std::string& table) {
  Stmt s(db, "SELECT 1 FROM zdb_tables WHERE name=?");
  s.Bind(1, table);
  return s.Step();
}

std::vector<std::string> ListTables(Db& db) {
  std::vector<std::string> out;
  Stmt s(db, "SELECT name FROM zdb_tables ORDER BY rowid");
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

std::vector<FieldInfo> TableFields(Db& db, const std::string& table, bool* ok) {
  std::vector<FieldInfo> out;
  Stmt s(db,
         "SELECT name, type, subtype, width, description FROM zdb_fields WHERE tbl=? ORDER BY "
         "pos");
  s.Bind(1, table);
  while (s.Step()) {
    FieldInfo f;
    f.name = s.Text(0);
    std::string type = s.Text(1), sub = s.Text(2);
    f.type = type.empty() ? 'C' : type[0];
    f.subtype = sub.empty() ? ' ' : sub[0];
    f.width = static_cast<uint32_t>(s.Int(3));
    f.description = s.Text(4);
    out.push_back(f);
  }
  if (ok) *ok = !s.Failed();
  return out;
}

std::string TableDescription(Db& db, const std::string& table) {
  Stmt s(db, "SELECT description FROM zdb_tables WHERE name=?");
  s.Bind(1, table);
  return s.Step() ? s.Text(0) : std::string();
}

int64_t RecordCount(Db& db, const std::string& table) {
  Stmt s(db, "SELECT count(*) FROM " + QuoteIdent(table));
  return s.Step() ? s.Int(0) : 0;
}

namespace {

bool InsertFieldRow(Db& db, const std::string& table, int pos, const FieldInfo& f) {
  Stmt s(db, "INSERT INTO zdb_fields VALUES(?,?,?,?,?,?,?)");
  s.Bind(1, table).Bind(2, static_cast<int64_t>(pos)).Bind(3, f.name);
  s.Bind(4, std::string(1, f.type)).Bind(5, std::string(1, f.subtype));
  s.Bind(6, static_cast<int64_t>(f.width)).Bind(7, f.description);
  return s.Run();
}

// Runs `work` inside a savepoint, so a catalog change lands whole or not at all, also inside a
// session's own transaction.
template <typename Work>
int32_t Atomically(Db& db, Work work) {
  if (!db.Exec("SAVEPOINT zdb_change")) return StorageFailure(db);
  int32_t rc = work();
  if (rc == kOk && db.Exec("RELEASE zdb_change")) return kOk;
  if (rc == kOk) rc = StorageFailure(db);
  db.Exec("ROLLBACK TO zdb_change; RELEASE zdb_change;");
  return rc;
}

int32_t CheckFields(std::vector<FieldInfo>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!IsValidName(fields[i].name, 32) || !NormaliseField(fields[i])) return kBadFieldDefinition;
    for (size_t j = 0; j < i; ++j)
      if (fields[j].name == fields[i].name) return kFieldExists;
  }
  return fields.size() > 300 ? kBadFieldDefinition : kOk;
}

}  // namespace

int32_t CreateTable(Db& db, const std::string& table, const std::string& description,
                    const std::vector<FieldInfo>& given) {
  if (!IsValidName(table, 32)) return kBadTableName;
  std::vector<FieldInfo> fields = given;
  if (int32_t rc = CheckFields(fields); rc != kOk) return rc;
  if (TableExists(db, table)) return kTableExists;
  return Atomically(db, [&]() -> int32_t {
    std::string sql = "CREATE TABLE " + QuoteIdent(table) + "(";
    for (size_t i = 0; i < fields.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdent(fields[i].name) + " " + StorageType(db, fields[i]);
    if (fields.empty()) sql += "zdb_rowid INTEGER";
    sql += ")";
    if (!db.Exec(sql)) return StorageFailure(db);
    Stmt s(db, "INSERT INTO zdb_tables VALUES(?,?)");
    s.Bind(1, table).Bind(2, description);
    if (!s.Run()) return StorageFailure(db);
    for (size_t i = 0; i < fields.size(); ++i)
      if (!InsertFieldRow(db, table, static_cast<int>(i), fields[i])) return StorageFailure(db);
    return kOk;
  });
}

int32_t DropTable(Db& db, const std::string& table) {
  if (!TableExists(db, table)) return kTableNotFound;
  return Atomically(db, [&]() -> int32_t {
    Stmt a(db, "DELETE FROM zdb_tables WHERE name=?");
    Stmt b(db, "DELETE FROM zdb_fields WHERE tbl=?");
    Stmt c(db, "DELETE FROM zdb_indexes WHERE tbl=?");
    Stmt d(db, "DELETE FROM zdb_aliases WHERE tbl=?");
    a.Bind(1, table);
    b.Bind(1, table);
    c.Bind(1, table);
    d.Bind(1, table);
    if (!a.Run() || !b.Run() || !c.Run() || !d.Run() || !RulesDropTable(db, table) ||
        !db.Exec("DROP TABLE " + QuoteIdent(table)))
      return StorageFailure(db);
    return kOk;
  });
}

int32_t RenameTable(Db& db, const std::string& from, const std::string& to) {
  if (!TableExists(db, from)) return kTableNotFound;
  if (!IsValidName(to, 32)) return kBadTableName;
  if (TableExists(db, to)) return kTableExists;
  return Atomically(db, [&]() -> int32_t {
    Stmt a(db, "UPDATE zdb_tables SET name=? WHERE name=?");
    Stmt b(db, "UPDATE zdb_fields SET tbl=? WHERE tbl=?");
    Stmt c(db, "UPDATE zdb_indexes SET tbl=? WHERE tbl=?");
    Stmt d(db, "UPDATE zdb_aliases SET tbl=? WHERE tbl=?");
    a.Bind(1, to).Bind(2, from);
    b.Bind(1, to).Bind(2, from);
    c.Bind(1, to).Bind(2, from);
    d.Bind(1, to).Bind(2, from);
    if (!a.Run() || !b.Run() || !c.Run() || !d.Run() || !RulesRenameTable(db, from, to) ||
        !db.Exec("ALTER TABLE " + QuoteIdent(from) + " RENAME TO " + QuoteIdent(to)))
      return StorageFailure(db);
    return kOk;
  });
}

int32_t SetTableDescription(Db& db, const std::string& table, const std::string& description) {
  Stmt s(db, "UPDATE zdb_tables SET description=? WHERE name=?");
  s.Bind(1, description).Bind(2, table);
  if (!s.Run()) return StorageFailure(db);
  return db.Changes() ? kOk : kTableNotFound;
}

int32_t AddField(Db& db, const std::string& table, FieldInfo f) {
  if (!TableExists(db, table)) return kTableNotFound;
  std::vector<FieldInfo> fields = TableFields(db, table);
  fields.push_back(f);
  if (int32_t rc = CheckFields(fields); rc != kOk) return rc;
  f = fields.back();
  return Atomically(db, [&]() -> int32_t {
    if (!db.Exec("ALTER TABLE " + QuoteIdent(table) + " ADD COLUMN " + QuoteIdent(f.name) + " " +
                 StorageType(db, f)))
      return StorageFailure(db);
    Stmt s(db, "SELECT coalesce(max(pos), -1) + 1 FROM zdb_fields WHERE tbl=?");
    s.Bind(1, table);
    int pos = s.Step() ? static_cast<int>(s.Int(0)) : 0;
    return InsertFieldRow(db, table, pos, f) ? kOk : StorageFailure(db);
  });
}

int32_t DropField(Db& db, const std::string& table, const std::string& field) {
  std::vector<FieldInfo> fields = TableFields(db, table);
  bool found = false;
  for (const auto& f : fields) found = found || f.name == field;
  if (!found) return kFieldNotFound;
  if (fields.size() == 1) return kBadFieldDefinition;  // a table keeps at least one column
  return Atomically(db, [&]() -> int32_t {
    Stmt s(db, "DELETE FROM zdb_fields WHERE tbl=? AND name=?");
    s.Bind(1, table).Bind(2, field);
    if (!s.Run() || !RulesDropField(db, table, field) || !DropIndexesOn(db, table, field) ||
        !db.Exec("ALTER TABLE " + QuoteIdent(table) + " DROP COLUMN " + QuoteIdent(field)))
      return StorageFailure(db);
    return kOk;
  });
}

namespace {

// A PostgreSQL column's check follows its field's new width or subtype: the check PostgreSQL
// named after the table and the column goes, the new one comes.
bool PgRecheck(Db& db, const std::string& table, const std::string& field, const FieldInfo& to) {
  const std::string t = Lower(table);
  std::string sql = "ALTER TABLE " + QuoteIdent(t);
  for (const std::string& name : {field, to.name})
    sql += " DROP CONSTRAINT IF EXISTS " + QuoteIdent(t + "_" + Lower(name) + "_check") + ",";
  std::string type = StorageType(db, to);
  size_t check = type.find(" CHECK ");
  if (check == std::string::npos) {
    sql.pop_back();
  } else {
    sql +=
        " ADD CONSTRAINT " + QuoteIdent(t + "_" + Lower(to.name) + "_check") + type.substr(check);
  }
  return db.ExecNative(sql);
}

// kOk when every value stored in the field would be taken by a write under the definition `to`:
// a narrower width or a stricter subtype is refused, not left holding values it cannot carry
// (SQLite would keep them, PostgreSQL's check would refuse them; both answer this way instead).
int32_t StoredValuesFit(Db& db, const std::string& table, const FieldInfo& from,
                        const FieldInfo& to) {
  if (IsMemoLike(to) || (to.subtype == from.subtype && to.width >= from.width)) return kOk;
  const std::string column = QuoteIdent(from.name);
  Stmt s(db,
         "SELECT " + column + " FROM " + QuoteIdent(table) + " WHERE " + column + " IS NOT NULL");
  while (s.Step()) {
    Value taken;
    if (ParseText(to, ValueText(from, s.Get(0)), &taken) != kOk) return kBadValue;
  }
  return s.Failed() ? StorageFailure(db) : kOk;
}

}  // namespace

int32_t UpdateField(Db& db, const std::string& table, const std::string& field, FieldInfo to) {
  std::vector<FieldInfo> fields = TableFields(db, table);
  size_t at = fields.size();
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == field) at = i;
  if (at == fields.size()) return kFieldNotFound;
  if (to.name.empty()) to.name = field;
  // Storage classes are fixed by the column; a definition may change within its class only.
  if (std::string(ColumnType(to)) != ColumnType(fields[at])) return kBadFieldDefinition;
  const FieldInfo from = fields[at];
  fields[at] = to;
  if (int32_t rc = CheckFields(fields); rc != kOk) return rc;
  to = fields[at];
  return Atomically(db, [&]() -> int32_t {
    if (int32_t rc = StoredValuesFit(db, table, from, to); rc != kOk) return rc;
    if (to.name != field && (!db.Exec("ALTER TABLE " + QuoteIdent(table) + " RENAME COLUMN " +
                                      QuoteIdent(field) + " TO " + QuoteIdent(to.name)) ||
                             !RulesRenameField(db, table, field, to.name)))
      return StorageFailure(db);
    if (db.Postgres() && !PgRecheck(db, table, field, to)) return StorageFailure(db);
    Stmt s(db,
           "UPDATE zdb_fields SET name=?, type=?, subtype=?, width=?, description=? WHERE tbl=? "
           "AND name=?");
    s.Bind(1, to.name).Bind(2, std::string(1, to.type)).Bind(3, std::string(1, to.subtype));
    s.Bind(4, static_cast<int64_t>(to.width)).Bind(5, to.description).Bind(6, table).Bind(7, field);
    return s.Run() ? kOk : StorageFailure(db);
  });
}

namespace {

// PostgreSQL keeps names folded to lower case: the index's columns are named back by the fields
// they belong to.
void PgIndexFields(Db& db, const std::string& table, IndexInfo* ix) {
  Stmt cols(db,
            "SELECT a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid"
            " JOIN pg_namespace n ON n.oid = c.relnamespace"
            " CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY k(attnum, ord)"
            " JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum"
            " WHERE c.relname = ? AND n.nspname = current_schema() ORDER BY k.ord");
  cols.Bind(1, Lower(ix->sqlName));
  auto fields = TableFields(db, table);
  while (cols.Step()) {
    std::string column = cols.Text(0), name = column;
    for (const auto& f : fields)
      if (Lower(f.name) == column) name = f.name;
    ix->fields.push_back(name);
  }
}

}  // namespace

std::vector<IndexInfo> TableIndexes(Db& db, const std::string& table) {
  std::vector<IndexInfo> out;
  Stmt s(db, "SELECT name, sqlname, uniq FROM zdb_indexes WHERE tbl=? ORDER BY rowid");
  s.Bind(1, table);
  while (s.Step()) {
    IndexInfo ix{s.Text(0), s.Text(1), s.Int(2) != 0, {}};
    if (db.Postgres()) {
      PgIndexFields(db, table, &ix);
      out.push_back(ix);
      continue;
    }
    Stmt cols(db, "SELECT name FROM pragma_index_info(?) ORDER BY seqno");
    cols.Bind(1, ix.sqlName);
    while (cols.Step()) ix.fields.push_back(cols.Text(0));
    out.push_back(ix);
  }
  return out;
}

int32_t DefineIndex(Db& db, const std::string& table, const std::string& name,
                    const std::vector<std::string>& fields, bool unique, bool replace) {
  if (!IsValidName(name, 32)) return kBadTableName;
  auto have = TableFields(db, table);
  std::string cols;
  for (const auto& item : fields) {
    bool found = false;
    for (const auto& f : have) found = found || f.name == item;
    if (!found) return kFieldNotFound;
    cols += (cols.empty() ? "" : ", ") + QuoteIdent(item);
  }
  if (cols.empty()) return kFieldNotFound;
  bool exists = false;
  for (const auto& ix : TableIndexes(db, table)) exists = exists || ix.name == name;
  if (exists && !replace) return kIndexExists;
  return Atomically(db, [&]() -> int32_t {
    if (exists)
      if (int32_t rc = DropIndex(db, table, name); rc != kOk) return rc;
    // A fresh SQLite name each time, so renamed tables never collide with an old index.
    std::string sqlName = "zdbix_" + table + "_" + name;
    if (!db.Exec(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                 QuoteIdent(sqlName) + " ON " + QuoteIdent(table) + "(" + cols + ")"))
      return StorageFailure(db);
    Stmt s(db, "INSERT INTO zdb_indexes VALUES(?,?,?,?)");
    s.Bind(1, table).Bind(2, name).Bind(3, sqlName).Bind(4, static_cast<int64_t>(unique));
    return s.Run() ? kOk : StorageFailure(db);
  });
}

int32_t DropIndex(Db& db, const std::string& table, const std::string& name) {
  for (const auto& ix : TableIndexes(db, table)) {
    if (ix.name != name) continue;
    Stmt s(db, "DELETE FROM zdb_indexes WHERE tbl=? AND name=?");
    s.Bind(1, table).Bind(2, name);
    if (!s.Run() || !db.Exec("DROP INDEX IF EXISTS " + QuoteIdent(ix.sqlName)))
      return StorageFailure(db);
    return kOk;
  }
  return kIndexNotFound;
}

bool DropIndexesOn(Db& db, const std::string& table, const std::string& field) {
  for (const auto& ix : TableIndexes(db, table))
    for (const auto& f : ix.fields)
      if ((db.Postgres() ? Lower(f) == Lower(field) : f == field) &&
          DropIndex(db, table, ix.name) != kOk)
        return false;
  return true;
}

bool ParseFieldSpec(const std::string& spec, std::vector<FieldInfo>* fields) {
  std::stringstream items(spec);
  std::string item;
  while (std::getline(items, item, ';')) {
    std::stringstream words(item);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    if (w.size() < 2 || w[1].size() != 1) return false;
    FieldInfo f;
    f.name = w[0];
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(w[1][0])));
    for (size_t i = 2; i < w.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(w[i][0])))
        f.width = static_cast<uint32_t>(std::stoul(w[i].substr(0, 6)));
      else
        f.subtype = static_cast<char>(std::toupper(static_cast<unsigned char>(w[i][0])));
    }
    fields->push_back(f);
  }
  return true;
}

}  // namespace zdbd
