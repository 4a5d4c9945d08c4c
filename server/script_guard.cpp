#include "script_guard.h"

#include <sqlite3.h>

#include <cctype>

#include "pg_sql.h"
#include "rules.h"
#include "schema.h"
#include "status.h"

namespace zdbd {

namespace {

bool StartsWithNoCase(const char* s, const char* prefix) {
  if (!s) return false;
  for (; *prefix; ++s, ++prefix)
    if (std::tolower(static_cast<unsigned char>(*s)) != *prefix) return false;
  return true;
}

bool IsOwnTable(const char* name) {
  return StartsWithNoCase(name, "zdb_") || StartsWithNoCase(name, "sqlite_");
}

bool IsTemp(const char* database) {
  return database && std::string(database) == "temp";
}

std::string Text(const char* s) {
  return s ? s : "";
}

Value FromSqlite(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return Value::Int(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return Value::Real(sqlite3_value_double(v));
    case SQLITE_TEXT:
      return Value::Text(std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                     static_cast<size_t>(sqlite3_value_bytes(v))));
    case SQLITE_BLOB: {
      const void* p = sqlite3_value_blob(v);
      return Value::Blob(
          p ? std::string(static_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(v)))
            : std::string());
    }
    default:
      return Value::Null();
  }
}

bool SameValue(sqlite3_value* a, sqlite3_value* b) {
  Value x = FromSqlite(a), y = FromSqlite(b);
  return x.kind == y.kind && x.i == y.i && x.d == y.d && x.s == y.s;
}

struct GuardContext {
  ScriptGuard* guard;
  Db* db;
};

void Fail(sqlite3_context* ctx, ScriptGuard* guard, const std::string& why) {
  guard->Refuse(why);
  sqlite3_result_error(ctx, why.c_str(), -1);
}

// zdb_check(table, rowid, mode, values...): mode 0 after an insert (one value per field), mode 1
// after an update (old and new value per field; only changed fields are checked).
void CheckRow(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* g = static_cast<GuardContext*>(sqlite3_user_data(ctx));
  std::string table = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  int64_t rowid = sqlite3_value_int64(argv[1]);
  bool update = sqlite3_value_int(argv[2]) == 1;
  auto all = TableFields(*g->db, table);
  size_t per = update ? 2 : 1;
  if (static_cast<size_t>(argc) != 3 + per * all.size()) {
    Fail(ctx, g->guard, "definition of table " + table + " changed during the script");
    return;
  }
  std::vector<FieldInfo> fields;
  std::vector<Value> values;
  for (size_t i = 0; i < all.size(); ++i) {
    sqlite3_value* now = argv[3 + per * i + (update ? 1 : 0)];
    if (update ? SameValue(argv[3 + per * i], now) : sqlite3_value_type(now) == SQLITE_NULL)
      continue;
    Value v = FromSqlite(now), parsed;
    // What is stored must read back as the field's type and fit its width.
    bool fits = v.kind == Value::kNull || (v.kind == Value::kBlob && all[i].subtype == 'B') ||
                ParseText(all[i], ValueText(all[i], v), &parsed) == kOk;
    if (fits && all[i].type == 'I' && v.kind == Value::kReal) fits = false;
    if (!fits || (all[i].type != 'C' && v.kind == Value::kText) ||
        (all[i].type == 'C' && all[i].subtype != 'B' && v.kind == Value::kBlob)) {
      Fail(ctx, g->guard,
           "value of " + table + "." + all[i].name + " refused: " + StatusText(kBadValue));
      return;
    }
    fields.push_back(all[i]);
    values.push_back(v);
  }
  if (int32_t rc = CheckValues(*g->db, table, rowid, fields, values); rc != kOk) {
    Fail(ctx, g->guard,
         "record " + std::to_string(rowid) + " of " + table + " refused: " + StatusText(rc));
    return;
  }
  sqlite3_result_null(ctx);
}

// zdb_fail(text): stops the statement with the text (delete rules that refuse).
void FailWith(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* g = static_cast<GuardContext*>(sqlite3_user_data(ctx));
  Fail(ctx, g->guard, reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
}

int Authorize(void* user, int action, const char* a, const char* b, const char* database,
              const char*) {
  auto* guard = static_cast<ScriptGuard*>(user);
  std::string why =
      ScriptActionRefusal(action, a, b, database, guard->InTransaction(), &guard->Tables());
  if (why.empty()) return SQLITE_OK;
  guard->Refuse(why);
  return SQLITE_DENY;
}

std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char ch : text) q += ch == '\'' ? std::string("''") : std::string(1, ch);
  return q + "'";
}

}  // namespace

std::string ScriptActionRefusal(int action, const char* a, const char* b, const char* database,
                                bool inTransaction, const std::vector<std::string>* tables) {
  switch (action) {
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_VIEW:
      // A temporary table named like a ZDB table would stand in front of it for the rest of
      // the session, the guard's own statements included.
      for (const auto& t : tables ? *tables : std::vector<std::string>{})
        if (t.size() == Text(a).size() && StartsWithNoCase(t.c_str(), Lower(Text(a)).c_str()))
          return "a temporary table may not take the name of table " + t;
      return {};
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      // SQLite's own schema table is written by DDL statements, which are refused below with
      // a reason of their own; this one speaks for whatever else tries.
      if (!IsTemp(database) && StartsWithNoCase(a, "sqlite_"))
        return "table definitions may not be changed by a script: use the catalog requests";
      if (!IsTemp(database) && IsOwnTable(a))
        return Text(a) + " is zdbd's catalog: scripts may read it, not write it";
      return {};
    case SQLITE_CREATE_TABLE:
    case SQLITE_DROP_TABLE:
    case SQLITE_ALTER_TABLE:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
      return "table " + Text(a) + " may not be created, changed or dropped by a script: use the " +
             "catalog requests";
    case SQLITE_CREATE_VIEW:
    case SQLITE_DROP_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      return "views and triggers are refused in scripts (" + Text(a) + ")";
    case SQLITE_CREATE_INDEX:
    case SQLITE_DROP_INDEX:
      return "index " + Text(a) + " may not be created or dropped by a script: use the index " +
             "requests";
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      return "attaching files is refused";
    case SQLITE_PRAGMA: {
      static const char* const kLooks[] = {"table_info", "table_xinfo", "index_list",
                                           "index_info", "index_xinfo", "foreign_key_list"};
      if (!b) return {};
      for (const char* p : kLooks)
        if (Text(a) == p) return {};
      return "pragma " + Text(a) + " with a value is refused";
    }
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
      if (inTransaction)
        return "transaction statements are refused while the session's transaction is open";
      return {};
    default:
      return {};
  }
}

std::string TransactionStatementRefusal(const std::string& script, bool inTransaction) {
  if (!inTransaction) return {};
  static const char* const kWords[] = {"begin",    "start", "commit",    "end",
                                       "rollback", "abort", "savepoint", "release"};
  for (const std::string& one : SplitStatements(script)) {
    size_t b = one.find_first_not_of(" \t\r\n");
    size_t e = b;
    while (e < one.size() && std::isalpha(static_cast<unsigned char>(one[e]))) ++e;
    const std::string word = Lower(one.substr(b, e - b));
    for (const char* w : kWords)
      if (word == w)
        return "transaction statements are refused while the session's transaction is open";
  }
  return {};
}

ScriptGuard::ScriptGuard(Db& db, bool inTransaction) : db_(db), inTransaction_(inTransaction) {
  if (db.Postgres()) {
    // PostgreSQL's own privileges guard the script: it runs as a role that may read and write
    // the database's data tables and nothing else (PgConn::RunScript).
    ready_ = true;
    return;
  }
  auto* ctx = new GuardContext{this, &db};
  sqlite3* h = db.Handle();
  bool ok = sqlite3_create_function_v2(
                h, "zdb_check", -1, SQLITE_UTF8, ctx, CheckRow, nullptr, nullptr,
                [](void* p) { delete static_cast<GuardContext*>(p); }) == SQLITE_OK &&
            sqlite3_create_function_v2(h, "zdb_fail", 1, SQLITE_UTF8, ctx, FailWith, nullptr,
                                       nullptr, nullptr) == SQLITE_OK;
  ready_ = ok && InstallTriggers() && sqlite3_set_authorizer(h, Authorize, this) == SQLITE_OK;
}

ScriptGuard::~ScriptGuard() {
  if (db_.Postgres()) return;
  sqlite3* h = db_.Handle();
  sqlite3_set_authorizer(h, nullptr, nullptr);
  for (const auto& t : triggers_) db_.Exec("DROP TRIGGER IF EXISTS temp." + QuoteIdent(t));
  sqlite3_create_function_v2(h, "zdb_fail", 1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(h, "zdb_check", -1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
}

bool ScriptGuard::InstallTriggers() {
  tables_ = ListTables(db_);
  auto make = [&](const std::string& name, const std::string& body) {
    triggers_.push_back(name);
    return db_.Exec("CREATE TEMP TRIGGER " + QuoteIdent(name) + " " + body);
  };
  int n = 0;
  for (const auto& table : tables_) {
    auto fields = TableFields(db_, table);
    std::string q = QuoteIdent(table), lit = Quoted(table), ins, upd, defaults;
    for (const auto& f : fields) {
      ins += ", NEW." + QuoteIdent(f.name);
      upd += ", OLD." + QuoteIdent(f.name) + ", NEW." + QuoteIdent(f.name);
      // Fields an insert leaves null receive their default, as with AppendBlank.
      std::string value;
      if (GetDefault(db_, table, f.name, &value))
        defaults += "UPDATE " + q + " SET " + QuoteIdent(f.name) + "=" + Quoted(value) +
                    " WHERE rowid=NEW.rowid AND " + QuoteIdent(f.name) + " IS NULL;";
    }
    std::string id = std::to_string(n++);
    if (!make("zdb_guard_i" + id, "AFTER INSERT ON main." + q + " BEGIN " + defaults +
                                      " SELECT zdb_check(" + lit + ", NEW.rowid, 0" + ins +
                                      "); END") ||
        !make("zdb_guard_u" + id, "AFTER UPDATE ON main." + q + " BEGIN SELECT zdb_check(" + lit +
                                      ", NEW.rowid, 1" + upd + "); END"))
      return false;
  }
  // The delete rules of cross references, and keys that records still point at.
  for (const auto& x : Xrefs(db_)) {
    std::string id = std::to_string(n++);
    std::string key =
        x.kind == 'T' || x.toField.empty() ? "OLD.rowid" : "OLD." + QuoteIdent(x.toField);
    std::string child = QuoteIdent(x.fromTable), col = QuoteIdent(x.fromField);
    std::string refused = Quoted("record of " + x.toTable +
                                 " refused: " + StatusText(kStillReferenced) + " (" + x.name + ")");
    std::string action =
        x.rule == "CASCADE" ? "DELETE FROM " + child + " WHERE " + col + "=" + key + ";"
        : x.rule == "NULLIFY"
            ? "UPDATE " + child + " SET " + col + "=NULL WHERE " + col + "=" + key + ";"
            : "SELECT zdb_fail(" + refused + ") WHERE EXISTS(SELECT 1 FROM main." + child +
                  " WHERE " + col + "=" + key + ");";
    if (!make("zdb_guard_d" + id,
              "BEFORE DELETE ON main." + QuoteIdent(x.toTable) + " BEGIN " + action + " END"))
      return false;
    if (x.kind == 'F' &&
        !make("zdb_guard_k" + id,
              "BEFORE UPDATE OF " + QuoteIdent(x.toField) + " ON main." + QuoteIdent(x.toTable) +
                  " WHEN OLD." + QuoteIdent(x.toField) + " IS NOT NEW." + QuoteIdent(x.toField) +
                  " BEGIN SELECT zdb_fail(" + refused + ") WHERE EXISTS(SELECT 1 FROM main." +
                  child + " WHERE " + col + "=OLD." + QuoteIdent(x.toField) + "); END"))
      return false;
  }
  return true;
}

}  // namespace zdbd
