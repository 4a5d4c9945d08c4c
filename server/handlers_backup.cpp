// Files on the server: a single table backed up to and restored from a file of the data
// directory's backups folder, and the user catalog copied to and defined from such a file. Over
// PostgreSQL a table backup is kept in PostgreSQL instead, as the same file's bytes, so that every
// zdbd over the database restores what any of them backed up.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "handlers.h"
#include "rules.h"
#include "status.h"
#include "storage.h"

namespace zdbd {

namespace {

// Names of server files: 1 to 64 letters, digits, '_', '-' or '.', not starting with '.', so a
// client can never reach outside the backups folder.
bool IsValidFileName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '-' && ch != '.')
      return false;
  return true;
}

int32_t ServerFile(Call& c, const std::string& given, std::string* path) {
  std::string name = Trimmed(given);
  if (!IsValidFileName(name)) return kBadServerFile;
  std::string dir = c.server.data.Dir() + "/backups";
  ::mkdir(dir.c_str(), 0700);
  *path = dir + "/" + name;
  return kOk;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Copies the records of `from.table` into `to.table` keeping their record numbers.
bool CopyRows(Db& from, const std::string& table, Db& to, const std::string& toTable,
              const std::vector<FieldInfo>& fields) {
  std::string cols = "rowid", marks = "?";
  for (const auto& f : fields) {
    cols += ", " + QuoteIdent(f.name);
    marks += ", ?";
  }
  Stmt read(from, "SELECT " + cols + " FROM " + QuoteIdent(table) + " ORDER BY rowid");
  while (read.Step()) {
    Stmt write(to, "INSERT INTO " + QuoteIdent(toTable) + "(" + cols + ") VALUES(" + marks + ")");
    for (int i = 0; i <= static_cast<int>(fields.size()); ++i) write.Bind(i + 1, read.Get(i));
    if (!write.Run()) return false;
  }
  return !read.Failed();
}

// Constraints, defaults and indexes of a table, from one database file into another.
bool CopyTableRules(Db& from, const std::string& table, Db& to, const std::string& toTable) {
  for (auto rule : Constraints(from, table, ""))
    if (AddConstraint(to, toTable, &rule) != kOk) return false;
  for (const auto& f : TableFields(from, table)) {
    std::string value;
    if (GetDefault(from, table, f.name, &value) &&
        SetDefault(to, toTable, f.name, value, false) != kOk)
      return false;
  }
  for (const auto& ix : TableIndexes(from, table))
    if (DefineIndex(to, toTable, ix.name, ix.fields, ix.unique, false) != kOk) return false;
  return true;
}

int32_t WriteBackup(Db& db, const std::string& table, const std::string& path) {
  std::string temp = path + ".part";
  ::unlink(temp.c_str());
  int32_t rc = kInternal;
  {
    Db out;
    auto fields = TableFields(db, table);
    if (out.Open(temp, true) && out.Exec("PRAGMA journal_mode=DELETE") && EnsureCatalog(out) &&
        CreateTable(out, table, TableDescription(db, table), fields) == kOk && out.Exec("BEGIN") &&
        CopyRows(db, table, out, table, fields) && CopyTableRules(db, table, out, table) &&
        out.Exec("COMMIT"))
      rc = kOk;
  }
  if (rc == kOk && std::rename(temp.c_str(), path.c_str()) != 0) rc = kInternal;
  if (rc != kOk) ::unlink(temp.c_str());
  return rc;
}

int32_t ReadBackup(Db& db, Db& in, const std::string& name) {
  auto tables = ListTables(in);
  if (tables.size() != 1) return kBadImport;
  const std::string& src = tables[0];
  std::string table = name.empty() ? src : name;
  auto fields = TableFields(in, src);
  if (!db.Exec("SAVEPOINT zdb_restore")) return StorageFailure(db);
  // Cross references survive the restore as long as their fields do.
  std::vector<Xref> kept;
  for (const auto& x : Xrefs(db))
    if (x.fromTable == table || x.toTable == table) kept.push_back(x);
  int32_t rc = TableExists(db, table) ? DropTable(db, table) : kOk;
  if (rc == kOk) rc = CreateTable(db, table, TableDescription(in, src), fields);
  if (rc == kOk && (!CopyRows(in, src, db, table, fields) || !CopyTableRules(in, src, db, table)))
    rc = StorageFailure(db);
  for (const auto& x : kept) {
    bool fieldsThere = true;
    for (const auto& [t, f] : {std::pair{x.fromTable, x.fromField}, {x.toTable, x.toField}}) {
      if (t != table || f.empty()) continue;
      bool found = false;
      for (const auto& have : fields) found = found || have.name == f;
      fieldsThere = fieldsThere && found;
    }
    if (rc == kOk && fieldsThere) rc = AddXref(db, x);
  }
  if (rc == kOk && db.Exec("RELEASE zdb_restore")) return kOk;
  if (rc == kOk) rc = StorageFailure(db);
  db.Exec("ROLLBACK TO zdb_restore; RELEASE zdb_restore;");
  return rc;
}

// The table of backups over PostgreSQL, on a connection of its own: a backup is stored at once,
// whatever transaction the session has open.
bool OpenBackupStore(Db& store) {
  return store.OpenPostgres("zdb_system", false) &&
         store.ExecNative(
             "DO $$BEGIN CREATE TABLE IF NOT EXISTS zdb_system.zdb_backups(name text PRIMARY KEY,"
             " data bytea NOT NULL, made timestamptz NOT NULL DEFAULT now(), rowid bigserial);"
             " EXCEPTION WHEN unique_violation OR duplicate_table THEN NULL; END$$");
}

int32_t StoreBackup(const std::string& name, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ::unlink(path.c_str());
  if (!in.good() && !in.eof()) return kInternal;
  Db store;
  if (!OpenBackupStore(store)) return kInternal;
  Stmt s(store,
         "INSERT INTO zdb_system.zdb_backups(name, data) VALUES(?, ?)"
         " ON CONFLICT (name) DO UPDATE SET data = excluded.data, made = now()");
  s.Bind(1, name).Bind(2, Value::Blob(bytes));
  return s.Run() ? kOk : StorageFailure(store);
}

// Writes the stored backup `name` to `path`; kServerFileNotFound when there is none.
int32_t FetchBackup(const std::string& name, const std::string& path) {
  Db store;
  if (!OpenBackupStore(store)) return kInternal;
  Stmt s(store, "SELECT data FROM zdb_system.zdb_backups WHERE name=?");
  s.Bind(1, name);
  if (!s.Step()) return s.Failed() ? StorageFailure(store) : kServerFileNotFound;
  const std::string bytes = s.Get(0).s;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? kOk : kInternal;
}

// A file that goes when the request ends.
struct Scratch {
  std::string path;
  ~Scratch() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

int32_t HBackupTable(Call& c) {
  Target t;
  std::string path;
  if (int32_t rc = CatalogTable(c, c.req.Text(0), &t); rc != kOk) return rc;
  if (int32_t rc = ServerFile(c, c.req.Text(1), &path); rc != kOk) return rc;
  const bool shared = Storage::Postgres();
  const std::string name = Trimmed(c.req.Text(1));
  std::string file = shared ? path + ".store" : path;
  int32_t rc = WriteBackup(*t.use->conn, t.table, file);
  if (rc == kOk && shared) rc = StoreBackup(name, file);
  if (rc == kOk)
    Log("table %s of %s backed up to %s", t.table.c_str(), t.db.c_str(),
        shared ? ("zdb_system.zdb_backups '" + name + "'").c_str() : path.c_str());
  return rc;
}

int32_t HRestoreTable(Call& c) {
  Target t;
  std::string path, name = Trimmed(c.req.Text(0));
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  if (int32_t rc = ServerFile(c, c.req.Text(1), &path); rc != kOk) return rc;
  Scratch fetched;
  if (Storage::Postgres()) {
    std::hash<std::thread::id> id;
    fetched.path = path + ".fetch" + std::to_string(id(std::this_thread::get_id()));
    if (int32_t rc = FetchBackup(Trimmed(c.req.Text(1)), fetched.path); rc != kOk) return rc;
    path = fetched.path;
  }
  if (!FileExists(path)) return kServerFileNotFound;
  if (!name.empty() && !IsValidName(name, 32)) return kBadTableName;
  Db in;
  if (!in.Open(path, false)) return kBadImport;
  {
    Stmt has(in, "SELECT count(*) FROM sqlite_master WHERE name IN ('zdb_tables','zdb_fields')");
    if (!has.Step() || has.Int(0) != 2) return kBadImport;
  }
  if (name.empty()) {
    auto tables = ListTables(in);
    if (tables.size() != 1) return kBadImport;
    name = tables[0];
  }
  t.table = name;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  if (int32_t rc = ReadBackup(*t.use->conn, in, name); rc != kOk) return rc;
  // This session's entries of the table start again at its first record.
  for (auto& [key, open] : t.use->tables)
    if (key == name || open.table == name) open.current = 0;
  Log("table %s of %s restored from %s", name.c_str(), t.db.c_str(), path.c_str());
  return kOk;
}

int32_t HSaveUsers(Call& c) {
  std::string path;
  if (int32_t rc = ServerFile(c, c.req.Text(0), &path); rc != kOk) return rc;
  std::string temp = path + ".part";
  ::unlink(temp.c_str());
  int32_t rc = c.server.users.SaveTo(temp);
  if (rc == kOk && std::rename(temp.c_str(), path.c_str()) != 0) rc = kInternal;
  ::unlink(temp.c_str());
  return rc;
}

int32_t HLoadUsers(Call& c) {
  std::string path;
  if (int32_t rc = ServerFile(c, c.req.Text(0), &path); rc != kOk) return rc;
  if (!FileExists(path)) return kServerFileNotFound;
  int32_t rc = c.server.users.LoadFrom(path);
  if (rc == kOk) Log("user catalog defined from %s", path.c_str());
  return rc;
}

}  // namespace zdbd
