#include <sys/stat.h>

#include <ctime>

#include "handlers.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace {

std::string NameArg(Call& c, size_t slot) {
  return Trimmed(c.req.Text(slot));
}

int64_t FirstRecord(Db& db, const std::string& table) {
  Stmt s(db, "SELECT rowid FROM " + QuoteIdent(table) + " ORDER BY rowid LIMIT 1");
  return s.Step() ? s.Int(0) : 0;
}

void ForgetDatabase(Call& c, const std::string& db) {
  auto& s = *c.session;
  auto it = s.dbs.find(db);
  if (it == s.dbs.end()) return;
  if (auto& own = it->second.own; own && own->InTransaction()) own->Exec("ROLLBACK");
  if (s.txDb == db) s.txDb.clear();
  s.dbs.erase(it);
  c.server.locks.ReleaseMatching("D:" + db, s.handle);
  c.server.locks.ReleaseMatching("T:" + db + "/", s.handle);
  c.server.locks.ReleaseMatching("R:" + db + "/", s.handle);
  c.server.data.NoteUse(db, s.handle, false);
  if (s.selectedDb == db) s.selectedDb.clear();
}

}  // namespace

int32_t HUseDb(Call& c) {
  std::string db = NameArg(c, 0);
  auto& s = *c.session;
  if (s.dbs.count(db)) return kOk;
  if (!c.server.data.Exists(db)) return kDatabaseNotFound;
  // The connection itself is given to each request (RequestDbs); this one only opens the file.
  auto shared = c.server.shared.Get(db, c.server.data.PathOf(db));
  if (!shared) return kInternal;
  s.dbs[db].shared = std::move(shared);
  c.server.data.NoteUse(db, s.handle, true);
  return kOk;
}

int32_t HUnUseDb(Call& c) {
  std::string db = NameArg(c, 0);
  if (!c.session->dbs.count(db)) return kDatabaseNotInUse;
  ForgetDatabase(c, db);
  return kOk;
}

int32_t HSelDb(Call& c) {
  std::string db = NameArg(c, 0);
  if (!c.session->dbs.count(db))
    return c.server.data.Exists(db) ? kDatabaseNotInUse : kDatabaseNotFound;
  c.session->selectedDb = db;
  return kOk;
}

int32_t HGetDb(Call& c) {
  c.req.PutText(0, c.session->selectedDb);
  return c.session->selectedDb.empty() ? kNoDatabaseSelected : kOk;
}

int32_t HOpenTable(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  std::string name = NameArg(c, 0), table = name;
  if (t.use->tables.count(name)) return kOk;  // open already, whatever became of its alias
  // A stored alias opens its table under the alias: a second current record of the same table.
  if (!TableExists(*t.use->conn, table)) table = AliasTarget(*t.use->conn, name);
  if (table.empty() || !TableExists(*t.use->conn, table)) return kTableNotFound;
  if (!t.use->tables.count(name)) {
    auto& open = t.use->tables[name];
    open.current = FirstRecord(*t.use->conn, table);
    if (table != name) open.table = table;
  }
  return kOk;
}

int32_t HCloseTable(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  std::string key = NameArg(c, 0);
  auto it = t.use->tables.find(key);
  if (it == t.use->tables.end()) return kTableNotOpen;
  std::string table = it->second.table.empty() ? key : it->second.table;
  t.use->tables.erase(it);
  c.server.locks.Release(LockTable::TableKey(t.db, table), c.session->handle);
  c.server.locks.ReleaseMatching("R:" + t.db + "/" + table + "/", c.session->handle);
  if (t.use->selectedTable == key) t.use->selectedTable.clear();
  return kOk;
}

int32_t HSelTable(Call& c) {
  Target t;
  if (int32_t rc = OpenTableNamed(c, NameArg(c, 0), &t); rc != kOk)
    return rc == kNoTableSelected ? kTableNotOpen : rc;
  t.use->selectedTable = t.key;
  return kOk;
}

int32_t HGetTable(Call& c) {
  Target t;
  int32_t rc = SelectedTable(c, &t);
  c.req.PutText(0, rc == kOk ? t.key : std::string());
  return rc;
}

int32_t HNewDb(Call& c) {
  return c.server.data.Create(NameArg(c, 0), c.req.Count() > 1 ? c.req.Text(1) : std::string());
}

int32_t HDelDb(Call& c) {
  std::string db = c.session->selectedDb;
  if (db.empty()) return kNoDatabaseSelected;
  if (c.server.data.Users(db) > 1) return kDatabaseInUse;
  // Answered changes that wait for space would go with the file: they are kept, and so is it.
  if (c.server.shared.Waiting(db, &c.session->lastDiskFull)) return kDiskFull;
  ForgetDatabase(c, db);
  // Committed and closed; reopened should the removal be refused.
  if (!c.server.shared.Close(db, &c.session->lastDiskFull)) return kDiskFull;
  return c.server.data.Remove(db, c.session->handle);
}

int32_t HNumDb(Call& c) {
  c.req.PutU32(0, static_cast<uint32_t>(c.server.data.List().size()));
  c.req.PutU32(1, static_cast<uint32_t>(c.session->dbs.size()));
  return kOk;
}

int32_t HDatabaseList(Call& c) {
  auto names = c.server.data.List();
  size_t room = c.req.Len(1) / 9;
  size_t n = std::min<size_t>({names.size(), room, c.req.U32(0)});
  std::fill(c.req.slots[1].begin(), c.req.slots[1].end(), 0);
  for (size_t i = 0; i < n; ++i)
    std::copy(names[i].begin(), names[i].end(), c.req.slots[1].begin() + 9 * i);
  c.req.PutU32(0, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HGetDatabaseRecord(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  auto& r = c.req.slots[0];
  std::fill(r.begin(), r.end(), 0);
  zdb::wire::PutU32(r.data(), static_cast<uint32_t>(ListTables(*t.use->conn).size()));
  std::string path = c.server.data.PathOf(t.db);
  std::copy_n(t.db.begin(), std::min<size_t>(t.db.size(), 255), r.begin() + 5);
  std::copy_n(path.begin(), std::min<size_t>(path.size(), 511), r.begin() + 261);
  return kOk;
}

int32_t HExist(Call& c) {
  std::string name = NameArg(c, 0);
  std::string kind;
  uint32_t code = 0;
  Target t;
  if (c.server.data.Exists(name)) {
    kind = "DATABASE";
    code = 1;
  } else if (SelectedDb(c, &t) == kOk && TableExists(*t.use->conn, name)) {
    kind = "TABLE";
    code = 2;
  }
  c.req.PutText(1, kind);
  c.req.PutU32(2, code);
  if (code) return kOk;
  return c.session->selectedDb.empty() ? kDatabaseNotFound : kTableNotFound;
}

int32_t HLastUpdate(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  struct stat st;
  std::string path = c.server.data.PathOf(t.db);
  std::time_t when = 0;
  if (::stat((path + "-wal").c_str(), &st) == 0) when = st.st_mtime;
  if (::stat(path.c_str(), &st) == 0 && st.st_mtime > when) when = st.st_mtime;
  std::tm tm{};
  gmtime_r(&when, &tm);
  char date[11], time[9];
  std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
  std::strftime(time, sizeof time, "%H:%M:%S", &tm);
  c.req.PutText(1, date);
  c.req.PutText(2, time);
  std::fill(c.req.slots[3].begin(), c.req.slots[3].end(), 0);
  return kOk;
}

}  // namespace zdbd
