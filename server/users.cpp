#include "users.h"

#include <atomic>
#include <random>

#include "pg_db.h"
#include "schema.h"
#include "sha256.h"
#include "status.h"
#include "storage.h"

namespace zdbd {
namespace {

// Bumped by a trigger on every catalog table of every database schema (see EnsureCatalog), in
// the changing transaction: whoever sees the new definitions sees the new count. Every request
// compares that count, and whether users exist, with what this zdbd last read, so both are kept
// in one row (zdb_catalog): reading one row costs PostgreSQL a fraction of adding up the
// per-schema counts and looking for a user. The per-schema counts stay, for zdbd processes of
// an earlier version still running on the database; the row is always one more than their sum,
// so it can be made again from them. Its users column counts the rows of users (row triggers;
// TRUNCATE sets it to 0 under the table's exclusive lock), so it is exact whoever writes. The
// advisory lock makes zdbd processes starting at once set this up one after the other.
const char* const kGenerationSql =
    "DO $$BEGIN"
    " PERFORM pg_advisory_xact_lock(7305221001);"
    " CREATE TABLE IF NOT EXISTS zdb_system.zdb_generation(schema_name text PRIMARY KEY,"
    "  n bigint NOT NULL);"
    " CREATE TABLE IF NOT EXISTS zdb_system.zdb_catalog(gen bigint NOT NULL, users bigint NOT"
    "  NULL);"
    " CREATE UNIQUE INDEX IF NOT EXISTS zdb_catalog_one ON zdb_system.zdb_catalog((true));"
    " INSERT INTO zdb_system.zdb_catalog SELECT 1 + coalesce((SELECT sum(n) FROM"
    "  zdb_system.zdb_generation), 0), (SELECT count(*) FROM zdb_system.users)"
    "  WHERE NOT EXISTS (SELECT 1 FROM zdb_system.zdb_catalog);"
    " IF NOT EXISTS (SELECT 1 FROM pg_proc WHERE oid = to_regproc('zdb_system.zdb_bump')"
    "  AND prosrc LIKE '%zdb_catalog%') THEN"
    "  CREATE OR REPLACE FUNCTION zdb_system.zdb_bump() RETURNS trigger LANGUAGE plpgsql AS"
    "  $f$BEGIN"
    "   INSERT INTO zdb_system.zdb_generation VALUES (TG_TABLE_SCHEMA, 1) ON CONFLICT"
    "   (schema_name) DO UPDATE SET n = zdb_system.zdb_generation.n + 1;"
    "   UPDATE zdb_system.zdb_catalog SET gen = gen + 1; RETURN NULL; END$f$;"
    " END IF;"
    " IF to_regproc('zdb_system.zdb_count_users') IS NULL THEN"
    "  CREATE FUNCTION zdb_system.zdb_count_users() RETURNS trigger LANGUAGE plpgsql AS $f$BEGIN"
    "   UPDATE zdb_system.zdb_catalog SET users = CASE TG_OP WHEN 'INSERT' THEN users + 1"
    "    WHEN 'DELETE' THEN users - 1 ELSE 0 END; RETURN NULL; END$f$;"
    "  CREATE TRIGGER zdb_count_users AFTER INSERT OR DELETE ON zdb_system.users FOR EACH ROW"
    "   EXECUTE FUNCTION zdb_system.zdb_count_users();"
    "  CREATE TRIGGER zdb_count_users_truncate AFTER TRUNCATE ON zdb_system.users"
    "   FOR EACH STATEMENT EXECUTE FUNCTION zdb_system.zdb_count_users();"
    " END IF;"
    " END$$";
// Whether users exist, and the generation: one round trip. A generation of 0 (the row gone)
// trusts nothing: every request then reads the catalog afresh.
const char* const kAnySql =
    "SELECT EXISTS(SELECT 1 FROM users), coalesce((SELECT gen FROM zdb_catalog), 0)";

thread_local bool t_noted = false;
thread_local uint64_t t_generation = 0;
// The last reading, as one number (twice the generation, plus one when users exist), and
// whether this thread's request trusts it (NewRequest).
std::atomic<int64_t> g_known{0};
thread_local bool t_trusted = false;

void Note(int64_t generation, bool any) {
  t_generation = static_cast<uint64_t>(generation);
  PgConn::NoteDefinitions(generation);
  t_noted = true;
  g_known = generation > 0 ? 2 * generation + (any ? 1 : 0) : 0;
}

std::string NewSalt() {
  std::random_device rd;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08x%08x", rd(), rd());
  return buf;
}

std::string Hash(const std::string& salt, const std::string& password) {
  return Sha256Hex(salt + ":" + password);
}

bool IsAdminRole(const std::string& role) {
  std::string r;
  for (char c : role) r += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r == "ADMIN";
}

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, salt TEXT, hash TEXT,"
    " admin INTEGER);"
    "CREATE TABLE IF NOT EXISTS privileges(\"user\" TEXT, db TEXT, tbl TEXT, bits INTEGER,"
    " PRIMARY KEY(\"user\", db, tbl));";

}  // namespace

bool Users::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Every request asks whether users exist: held exclusively, the file costs no lock calls.
  // Over PostgreSQL the catalog is shared by every zdbd on the database and read afresh.
  bool opened = Storage::Postgres()
                    ? db_.OpenPostgres("zdb_system", true)
                    : db_.Open(path, true) && db_.Exec("PRAGMA locking_mode=EXCLUSIVE");
  return opened && db_.Exec(kSchema) && (!Storage::Postgres() || db_.ExecNative(kGenerationSql));
}

bool Users::Any() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_.Postgres()) {
    if (t_trusted) return (g_known & 1) != 0;
    Stmt s(db_, kAnySql);
    if (!s.Step()) return false;
    Note(s.Int(1), s.Int(0) != 0);
    return s.Int(0) != 0;
  }
  Stmt s(db_, "SELECT 1 FROM users LIMIT 1");
  return s.Step();
}

uint64_t Users::CatalogGeneration() {
  if (t_noted) return t_generation;
  if (t_trusted) return static_cast<uint64_t>(g_known / 2);
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, kAnySql);
  if (!s.Step()) return 0;
  Note(s.Int(1), s.Int(0) != 0);
  return t_generation;
}

bool Users::NewRequest(bool trust) {
  t_noted = false;
  t_trusted = trust && db_.Postgres() && g_known != 0;
  if (t_trusted)
    PgConn::ArmCheck(g_known);
  else
    PgConn::EndCheck();
  return t_trusted;
}

int64_t Users::Known() const {
  return g_known;
}

int32_t Users::CheckLogin(const std::string& name, const std::string& password, bool* admin) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, "SELECT salt, hash, admin FROM users WHERE name=?");
  s.Bind(1, name);
  if (!s.Step() || Hash(s.Text(0), password) != s.Text(1)) return kLoginRefused;
  *admin = s.Int(2) != 0;
  return kOk;
}

int32_t Users::Add(const std::string& name, const std::string& password, bool admin) {
  if (!IsValidName(name, 32)) return kBadValue;
  std::lock_guard<std::mutex> lock(mutex_);
  std::string salt = NewSalt();
  Stmt s(db_, "INSERT OR IGNORE INTO users VALUES(?,?,?,?)");
  s.Bind(1, name).Bind(2, salt).Bind(3, Hash(salt, password)).Bind(4, int64_t{admin ? 1 : 0});
  if (!s.Run()) return kInternal;
  return db_.Changes() ? kOk : kUserExists;
}

int32_t Users::Delete(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, "DELETE FROM users WHERE name=?");
  s.Bind(1, name);
  if (!s.Run()) return kInternal;
  if (db_.Changes() == 0) return kUserNotFound;
  Stmt p(db_, "DELETE FROM privileges WHERE \"user\"=?");
  p.Bind(1, name);
  return p.Run() ? kOk : kInternal;
}

int32_t Users::Update(const std::string& name, const std::string& password,
                      const std::string& role) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string salt = NewSalt();
  Stmt s(db_, "UPDATE users SET salt=?, hash=?, admin=? WHERE name=?");
  s.Bind(1, salt).Bind(2, Hash(salt, password)).Bind(3, int64_t{IsAdminRole(role) ? 1 : 0});
  s.Bind(4, name);
  if (!s.Run()) return kInternal;
  return db_.Changes() ? kOk : kUserNotFound;
}

bool Users::Exists(const std::string& name) {
  Stmt s(db_, "SELECT 1 FROM users WHERE name=?");
  s.Bind(1, name);
  return s.Step();
}

bool Users::IsAdmin(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, "SELECT admin FROM users WHERE name=?");
  s.Bind(1, name);
  return s.Step() && s.Int(0) != 0;
}

std::vector<std::string> Users::List() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  Stmt s(db_, "SELECT name FROM users ORDER BY name");
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

size_t Users::AdminCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, "SELECT count(*) FROM users WHERE admin<>0");
  return s.Step() ? static_cast<size_t>(s.Int(0)) : 0;
}

int32_t Users::Grant(const std::string& user, const std::string& db, const std::string& table,
                     uint32_t bits, bool grant) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exists(user)) return kUserNotFound;
  Stmt get(db_, "SELECT bits FROM privileges WHERE \"user\"=? AND db=? AND tbl=?");
  get.Bind(1, user).Bind(2, db).Bind(3, table);
  uint32_t now = get.Step() ? static_cast<uint32_t>(get.Int(0)) : 0;
  now = grant ? (now | bits) : (now & ~bits);
  Stmt put(db_, "INSERT OR REPLACE INTO privileges VALUES(?,?,?,?)");
  put.Bind(1, user).Bind(2, db).Bind(3, table).Bind(4, int64_t{now});
  return put.Run() ? kOk : kInternal;
}

uint32_t Users::Bits(const std::string& user, const std::string& db, const std::string& table) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(
      db_,
      "SELECT bits FROM privileges WHERE \"user\"=? AND (db=? OR db='*') AND (tbl=? OR tbl='*')");
  s.Bind(1, user).Bind(2, db).Bind(3, table);
  uint32_t bits = 0;
  while (s.Step()) bits |= static_cast<uint32_t>(s.Int(0));
  return bits;
}

std::vector<std::string> Users::UsersOf(const std::string& db, const std::string& table) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  Stmt s(
      db_,
      "SELECT DISTINCT \"user\" FROM privileges WHERE (db=? OR db='*') AND (tbl=? OR tbl='*') AND "
      "bits<>0 ORDER BY \"user\"");
  s.Bind(1, db).Bind(2, table);
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

std::vector<std::string> Users::TablesOf(const std::string& user, const std::string& db) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  Stmt s(db_,
         "SELECT DISTINCT tbl FROM privileges WHERE \"user\"=? AND (db=? OR db='*') AND bits<>0 "
         "ORDER BY tbl");
  s.Bind(1, user).Bind(2, db);
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

int32_t Users::DropTablePrivileges(const std::string& db, const std::string& table) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt s(db_, "DELETE FROM privileges WHERE db=? AND tbl=?");
  s.Bind(1, db).Bind(2, table);
  return s.Run() ? kOk : kInternal;
}

std::string Users::Describe(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stmt u(db_, "SELECT admin FROM users WHERE name=?");
  u.Bind(1, name);
  if (!u.Step()) return {};
  std::string out = "user=" + name + "\nrole=" + (u.Int(0) ? "ADMIN" : "USER") + "\n";
  Stmt p(db_, "SELECT db, tbl, bits FROM privileges WHERE \"user\"=? ORDER BY db, tbl");
  p.Bind(1, name);
  while (p.Step())
    out += "grant=" + p.Text(0) + "." + p.Text(1) + ":" + std::to_string(p.Int(2)) + "\n";
  return out;
}

int32_t Users::SaveTo(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_.Postgres()) {
    // The file is SQLite's on either engine: the catalog's rows copied into a fresh one.
    Db out;
    if (!out.Open(path, true) || !out.Exec("PRAGMA journal_mode=DELETE") || !out.Exec(kSchema) ||
        !out.Exec("BEGIN"))
      return kInternal;
    bool ok = true;
    for (const char* table : {"users", "privileges"}) {
      Stmt read(db_, std::string("SELECT * FROM ") + table);
      while (ok && read.Step()) {
        Stmt put(out, std::string("INSERT INTO ") + table + " VALUES(?,?,?,?)");
        for (int i = 0; i < 4; ++i) put.Bind(i + 1, read.Get(i));
        ok = put.Run();
      }
      ok = ok && !read.Failed();
    }
    return ok && out.Exec("COMMIT") ? kOk : kInternal;
  }
  Stmt s(db_, "VACUUM INTO ?");
  s.Bind(1, path);
  return s.Run() ? kOk : kInternal;
}

int32_t Users::LoadFrom(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Db in;
  if (!in.Open(path, false)) return kBadImport;
  Stmt counts(in, "SELECT count(*), coalesce(sum(admin <> 0), 0) FROM users");
  if (!counts.Step()) return kBadImport;
  if (counts.Int(0) > 0 && counts.Int(1) == 0) return kDenied;
  struct Row {
    std::vector<std::string> cells;
  };
  std::vector<Row> users, grants;
  Stmt u(in, "SELECT name, salt, hash, admin FROM users");
  while (u.Step()) users.push_back({{u.Text(0), u.Text(1), u.Text(2), u.Text(3)}});
  Stmt p(in, "SELECT \"user\", db, tbl, bits FROM privileges");
  while (p.Step()) grants.push_back({{p.Text(0), p.Text(1), p.Text(2), p.Text(3)}});
  if (u.Failed() || p.Failed()) return kBadImport;
  if (!db_.Exec("BEGIN; DELETE FROM users; DELETE FROM privileges;")) return kInternal;
  bool ok = true;
  for (const auto& r : users) {
    Stmt s(db_, "INSERT INTO users VALUES(?,?,?,?)");
    s.Bind(1, r.cells[0]).Bind(2, r.cells[1]).Bind(3, r.cells[2]).Bind(4, std::stoll(r.cells[3]));
    ok = ok && s.Run();
  }
  for (const auto& r : grants) {
    Stmt s(db_, "INSERT OR REPLACE INTO privileges VALUES(?,?,?,?)");
    s.Bind(1, r.cells[0]).Bind(2, r.cells[1]).Bind(3, r.cells[2]).Bind(4, std::stoll(r.cells[3]));
    ok = ok && s.Run();
  }
  if (!ok || !db_.Exec("COMMIT")) {
    db_.Exec("ROLLBACK");
    return kInternal;
  }
  return kOk;
}

}  // namespace zdbd
