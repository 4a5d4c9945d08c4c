#include <cctype>
#include <cstdio>

#include "handlers.h"
#include "rules.h"
#include "status.h"

namespace zdbd {

namespace {

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

bool IsNumber(const std::string& s) {
  return !s.empty() && s.size() < 19 && s.find_first_not_of("0123456789") == std::string::npos;
}

int64_t OneRow(Db& db, const std::string& sql, int64_t arg, bool bind) {
  Stmt s(db, sql);
  if (bind) s.Bind(1, arg);
  return s.Step() ? s.Int(0) : 0;
}

// The record `mode` names relative to `current`; 0 when there is none.
int64_t FindRecord(Db& db, const std::string& table, const std::string& mode, int64_t current,
                   bool* known) {
  std::string t = QuoteIdent(table);
  *known = true;
  if (mode == "FIRST" || mode == "F" || mode == "TOP")
    return OneRow(db, "SELECT rowid FROM " + t + " ORDER BY rowid LIMIT 1", 0, false);
  if (mode == "LAST" || mode == "L" || mode == "BOTTOM")
    return OneRow(db, "SELECT rowid FROM " + t + " ORDER BY rowid DESC LIMIT 1", 0, false);
  if (mode == "NEXT" || mode == "N" || mode.empty())
    return OneRow(db, "SELECT rowid FROM " + t + " WHERE rowid>? ORDER BY rowid LIMIT 1", current,
                  true);
  if (mode == "PRIOR" || mode == "PREV" || mode == "P")
    return OneRow(db, "SELECT rowid FROM " + t + " WHERE rowid<? ORDER BY rowid DESC LIMIT 1",
                  current, true);
  if (mode == "CURRENT" || mode == "C") return current;
  if (IsNumber(mode))
    return OneRow(db, "SELECT rowid FROM " + t + " WHERE rowid=?", std::stoll(mode), true);
  *known = false;
  return 0;
}

bool WantsLock(const std::string& option) {
  std::string o = Upper(Trimmed(option));
  return o == "L" || o == "LOCK";
}

int32_t LockRecord(Call& c, const Target& t, int64_t record) {
  LockHolder me{c.session->handle, c.session->user};
  return c.server.locks.Acquire(LockTable::RecordKey(t.db, t.table, record), me, kRecordLocked);
}

// The record a text names: empty for the current one, else a record number.
int32_t RecordArg(const std::string& text, const Target& t, int64_t* record) {
  std::string s = Trimmed(text);
  if (s.empty()) {
    *record = t.open->current;
    return *record > 0 ? kOk : kNoCurrentRecord;
  }
  if (!IsNumber(s)) return kMalformed;
  *record = std::stoll(s);
  return kOk;
}

std::string HolderText(const LockHolder& h) {
  char handle[16];
  std::snprintf(handle, sizeof handle, "#%08X", h.handle);
  std::string user = h.user.empty() ? "anonymous" : h.user;
  return user.substr(0, 32 - 9) + handle;
}

int32_t DatabaseArg(Call& c, std::string* db) {
  *db = Trimmed(c.req.Text(0));
  if (db->empty()) *db = c.session->selectedDb;
  if (db->empty()) return kNoDatabaseSelected;
  return c.server.data.Exists(*db) ? kOk : kDatabaseNotFound;
}

int32_t TxDb(Call& c, Target* t) {
  auto& s = *c.session;
  if (s.txDb.empty()) return kNoTransaction;
  auto it = s.dbs.find(s.txDb);
  if (it == s.dbs.end()) return kNoTransaction;
  t->db = s.txDb;
  t->use = &it->second;
  return kOk;
}

}  // namespace

int32_t ReadRecord(Call& c, Target& t, const std::string& mode, const std::string& option) {
  bool known = false;
  std::string m = Upper(Trimmed(mode));
  int64_t target = FindRecord(*t.use->conn, t.table, m, t.open->current, &known);
  if (!known) return kMalformed;
  if (target <= 0) return IsNumber(m) ? kRecordNotFound : kEndOfTable;
  if (WantsLock(option))
    if (int32_t rc = LockRecord(c, t, target); rc != kOk) return rc;
  t.open->current = target;
  return kOk;
}

int32_t HRead(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  return ReadRecord(c, t, c.req.Text(0), c.req.Text(1));
}

int32_t HSeek(Call& c) {
  Target t;
  FieldInfo f;
  if (int32_t rc = FieldOf(c, c.req.Text(0), &t, &f); rc != kOk) return rc;
  Value key;
  if (ParseText(f, c.req.Text(1), &key) != kOk) return kRecordNotFound;
  Stmt s(*t.use->conn, "SELECT rowid FROM " + QuoteIdent(t.table) + " WHERE " + QuoteIdent(f.name) +
                           "=? ORDER BY rowid LIMIT 1");
  s.Bind(1, key);
  if (!s.Step()) return s.Failed() ? StorageFailure(*t.use->conn) : kRecordNotFound;
  t.open->current = s.Int(0);
  return kOk;
}

int32_t HAppendBlank(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  // The new record carries the fields' default values, checked like any other write.
  int64_t record = 0;
  if (int32_t rc = InsertRecord(*t.use->conn, t.table, {}, {}, &record); rc != kOk) return rc;
  t.open->current = record;
  return kOk;
}

int32_t HWrite(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  if (t.open->current <= 0) return kNoCurrentRecord;
  return OneRow(*t.use->conn, "SELECT rowid FROM " + QuoteIdent(t.table) + " WHERE rowid=?",
                t.open->current, true) > 0
             ? kOk
             : kNoCurrentRecord;
}

int32_t HDelete(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  int64_t record = 0;
  if (int32_t rc = RecordArg(c.req.Text(0), t, &record); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, record); rc != kOk) return rc;
  // Cross references pointing at the record decide whether and how it goes.
  if (int32_t rc = DeleteRecord(*t.use->conn, t.table, record); rc != kOk) return rc;
  c.server.locks.Release(LockTable::RecordKey(t.db, t.table, record), c.session->handle);
  if (record == t.open->current) {
    bool known = false;
    t.open->current = FindRecord(*t.use->conn, t.table, "NEXT", record, &known);
  }
  return kOk;
}

int32_t HDbLock(Call& c) {
  std::string db;
  if (int32_t rc = DatabaseArg(c, &db); rc != kOk) return rc;
  LockHolder me{c.session->handle, c.session->user};
  return c.server.locks.Acquire(LockTable::DatabaseKey(db), me, kDatabaseLocked);
}

int32_t HDbUnlock(Call& c) {
  std::string db;
  if (int32_t rc = DatabaseArg(c, &db); rc != kOk) return rc;
  return c.server.locks.Release(LockTable::DatabaseKey(db), c.session->handle) ? kOk : kNotLocked;
}

int32_t HDbIsLock(Call& c) {
  std::string db;
  if (int32_t rc = DatabaseArg(c, &db); rc != kOk) return rc;
  LockHolder h;
  if (!c.server.locks.Holder(LockTable::DatabaseKey(db), &h)) return kOk;
  return h.handle == c.session->handle ? kLockedBySelf : kDatabaseLocked;
}

int32_t HLockTable(Call& c) {
  Target t;
  if (int32_t rc = OpenTableNamed(c, Trimmed(c.req.Text(0)), &t); rc != kOk) return rc;
  LockHolder me{c.session->handle, c.session->user};
  return c.server.locks.Acquire(LockTable::TableKey(t.db, t.table), me, kTableLocked);
}

int32_t HRecUnlock(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  auto& locks = c.server.locks;
  if (Trimmed(c.req.Text(0)) == "*") {
    locks.ReleaseMatching("R:" + t.db + "/" + t.table + "/", c.session->handle);
    locks.Release(LockTable::TableKey(t.db, t.table), c.session->handle);
    return kOk;
  }
  int64_t record = 0;
  if (int32_t rc = RecordArg(c.req.Text(0), t, &record); rc != kOk) return rc;
  return locks.Release(LockTable::RecordKey(t.db, t.table, record), c.session->handle) ? kOk
                                                                                       : kNotLocked;
}

int32_t HWhoLock(Call& c) {
  std::string what = Trimmed(c.req.Text(0)), key;
  c.req.PutText(1, "");
  if (what.rfind("D:", 0) == 0) {
    key = LockTable::DatabaseKey(what.substr(2));
  } else {
    Target t;
    if (what.rfind("T:", 0) == 0) {
      if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
      key = LockTable::TableKey(t.db, what.substr(2));
    } else {
      if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
      int64_t record = 0;
      if (int32_t rc = RecordArg(what, t, &record); rc != kOk) return rc;
      key = LockTable::RecordKey(t.db, t.table, record);
    }
  }
  LockHolder h;
  if (!c.server.locks.Holder(key, &h)) return kNotLocked;
  c.req.PutText(1, HolderText(h));
  return kOk;
}

int32_t HBegin(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  if (!c.session->txDb.empty()) return kTransactionActive;
  // The transaction runs on a connection of the session's own, isolated from the others.
  Db& own = OwnConnection(c.server, t.db, *t.use);
  t.use->conn = &own;
  if (!own.Exec("BEGIN")) return StorageFailure(own);
  c.session->txDb = t.db;
  return kOk;
}

int32_t HEnd(Call& c) {
  Target t;
  if (int32_t rc = TxDb(c, &t); rc != kOk) return rc;
  if (!t.use->conn->Exec("COMMIT")) return StorageFailure(*t.use->conn);
  c.session->txDb.clear();
  return kOk;
}

int32_t HCommit(Call& c) {
  Target t;
  if (int32_t rc = TxDb(c, &t); rc != kOk) return rc;
  if (!t.use->conn->Exec("COMMIT")) return StorageFailure(*t.use->conn);
  if (!t.use->conn->Exec("BEGIN")) {
    c.session->txDb.clear();
    return StorageFailure(*t.use->conn);
  }
  return kOk;
}

int32_t HRollBack(Call& c) {
  Target t;
  if (int32_t rc = TxDb(c, &t); rc != kOk) return rc;
  t.use->conn->Exec("ROLLBACK");
  c.session->txDb.clear();
  return kOk;
}

int32_t HTrStatus(Call& c) {
  c.req.PutU32(0, c.session->txDb.empty() ? 0 : 1);
  return kOk;
}

int32_t HClearTable(Call& c) {
  Target t;
  if (int32_t rc = OpenTableNamed(c, Trimmed(c.req.Text(0)), &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  if (int32_t rc = ClearRecords(*t.use->conn, t.table); rc != kOk) return rc;
  t.open->current = 0;
  return kOk;
}

int32_t HCompactTable(Call& c) {
  Target t;
  if (int32_t rc = OpenTableNamed(c, Trimmed(c.req.Text(0)), &t); rc != kOk) return rc;
  if (!c.session->txDb.empty()) return kTransactionActive;
  // VACUUM runs outside any transaction.
  if (!c.server.shared.Flush(t.db)) return kDiskFull;
  return t.use->conn->Exec("VACUUM") ? kOk : StorageFailure(*t.use->conn);
}

int32_t HCurrentKey(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  c.req.PutText(0, std::to_string(t.open->current));
  c.req.PutU32(1, static_cast<uint32_t>(t.open->current));
  return t.open->current > 0 ? kOk : kNoCurrentRecord;
}

}  // namespace zdbd
