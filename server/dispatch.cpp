#include "dispatch.h"

#include <cstdlib>
#include <cstring>

#include "handlers.h"
#include "metrics.h"
#include "pg_db.h"
#include "status.h"
#include "storage.h"
#include "wire/le.h"

namespace zdbd {

namespace {

using N = Need;
using zdb::wire::Op;

// operation, need, handler
constexpr OpRow kOps[] = {
    {Op("Login"), N::kNothing, HLogin},
    {Op("Logout"), N::kNothing, HLogout},
    {Op("GetVersion"), N::kNothing, HVersion},
    {Op("GetError"), N::kNothing, HErrorText},
    // databases and tables in use
    {Op("UseDB"), N::kSession, HUseDb},
    {Op("UnUseDB"), N::kSession, HUnUseDb},
    {Op("SelDB"), N::kSession, HSelDb},
    {Op("GetDB"), N::kSession, HGetDb},
    {Op("OpenTable"), N::kSession, HOpenTable},
    {Op("CloseTable"), N::kSession, HCloseTable},
    {Op("SelTable"), N::kSession, HSelTable},
    {Op("GetTable"), N::kSession, HGetTable},
    // records, locks, transactions, maintenance
    {Op("DBLock"), N::kWrite, HDbLock},
    {Op("DBUnLock"), N::kSession, HDbUnlock},
    {Op("DBIsLock"), N::kSession, HDbIsLock},
    {Op("LockTable"), N::kWrite, HLockTable},
    {Op("Seek"), N::kRead, HSeek},
    {Op("Read"), N::kRead, HRead},
    {Op("AppendBlank"), N::kWrite, HAppendBlank},
    {Op("Write"), N::kWrite, HWrite},
    {Op("Delete"), N::kWrite, HDelete},
    {Op("RecUnLock"), N::kSession, HRecUnlock},
    {Op("WhoLock"), N::kSession, HWhoLock},
    {Op("BeginTransaction"), N::kSession, HBegin},
    {Op("EndTransaction"), N::kSession, HEnd},
    {Op("TRStatus"), N::kSession, HTrStatus},
    {Op("Commit"), N::kSession, HCommit},
    {Op("RollBack"), N::kSession, HRollBack},
    {Op("CompactTable"), N::kDefine, HCompactTable},
    {Op("ClearTable"), N::kWrite, HClearTable},
    {Op("CurrentKey"), N::kRead, HCurrentKey},
    // field values
    {Op("GetField"), N::kRead, HGetField},
    {Op("PutField"), N::kWrite, HPutField},
    {Op("TestField"), N::kRead, HTestField},
    {Op("IsNull"), N::kRead, HIsNull},
    {Op("CpyField"), N::kWrite, HCpyField},
    {Op("FRead"), N::kRead, HFRead},
    {Op("FWrite"), N::kWrite, HFWrite},
    {Op("MatGetFields"), N::kRead, HMatGet},
    {Op("GetRead"), N::kRead, HGetRead},
    {Op("MatPutFields"), N::kWrite, HMatPut},
    {Op("PutWrite"), N::kWrite, HPutWrite},
    // fields
    {Op("InfoFields"), N::kRead, HInfoFields},
    {Op("AddField"), N::kDefine, HAddField},
    {Op("DelField"), N::kDefine, HDelField},
    {Op("UpdField"), N::kDefine, HUpdField},
    {Op("GetField descriptor"), N::kRead, HGetFieldDescriptor},
    {Op("TableFields"), N::kRead, HTableFields},
    {Op("GFields"), N::kRead, HGFields},
    {Op("PFields"), N::kDefine, HPFields},
    {Op("CanBeDelete"), N::kRead, HCanBeDelete},
    // databases and tables catalog
    {Op("NewDB"), N::kAdmin, HNewDb},
    {Op("DelDB"), N::kAdmin, HDelDb},
    {Op("NumDB"), N::kSession, HNumDb},
    {Op("DataBase"), N::kSession, HDatabaseList},
    {Op("GetDataBase"), N::kSession, HGetDatabaseRecord},
    {Op("Exist"), N::kSession, HExist},
    {Op("LastUpdate"), N::kSession, HLastUpdate},
    {Op("CreTable"), N::kDefine, HCreTable},
    {Op("DbTables"), N::kSession, HDbTables},
    {Op("DelTable"), N::kDefine, HDelTable},
    {Op("GetPhysName"), N::kSession, HPhysName},
    {Op("GetTable record"), N::kRead, HGetTableRecord},
    {Op("NumTables"), N::kSession, HNumTables},
    {Op("RebTable"), N::kDefine, HRebTable},
    {Op("UpdTable"), N::kDefine, HUpdTable},
    {Op("Rename"), N::kDefine, HRename},
    // users and privileges
    {Op("ValidUser"), N::kSession, HValidUser},
    {Op("ReadUser"), N::kAdmin, HReadUser},
    {Op("AddUser"), N::kAdmin, HAddUser},
    {Op("DelUser"), N::kAdmin, HDelUser},
    {Op("UpdUser"), N::kAdmin, HUpdUser},
    {Op("NumUsers"), N::kSession, HNumUsers},
    {Op("GetUsers"), N::kSession, HGetUsers},
    {Op("Grant"), N::kAdmin, HGrant},
    {Op("Revoke"), N::kAdmin, HRevoke},
    {Op("IsAuthorizated"), N::kSession, HIsAuthorized},
    {Op("TBGrantAll"), N::kAdmin, HTbGrantAll},
    {Op("TBRevokeAll"), N::kAdmin, HTbRevokeAll},
    {Op("UsrGrantAll"), N::kAdmin, HUsrGrantAll},
    {Op("UsrRevokeAll"), N::kAdmin, HUsrRevokeAll},
    {Op("NumUsrPerTB"), N::kSession, HNumUsrPerTb},
    {Op("NumTBPerUser"), N::kSession, HNumTbPerUser},
    {Op("UsrPerTable"), N::kSession, HUsrPerTable},
    {Op("TablesPerUser"), N::kSession, HTablesPerUser},
    {Op("TBDeleteAll"), N::kAdmin, HTbDeleteAll},
    {Op("GetAccounts"), N::kSession, HGetAccounts},
    {Op("GetPrivileges"), N::kSession, HGetPrivileges},
    // indexes
    {Op("CreateIndex"), N::kDefine, HCreateIndex},
    {Op("EraseIndex"), N::kDefine, HEraseIndex},
    {Op("RebuildIndex"), N::kDefine, HRebuildIndex},
    {Op("AddIFields"), N::kDefine, HAddIndexFields},
    {Op("DelIFields"), N::kDefine, HDelIndexFields},
    {Op("UpdIFields"), N::kDefine, HUpdIndexFields},
    {Op("IndexFields"), N::kRead, HIndexFields},
    {Op("TableIndex"), N::kRead, HTableIndexes},
    {Op("GetIndex"), N::kRead, HGetIndex},
    // constraints and default values
    {Op("AddConstrain"), N::kDefine, HAddConstraint},
    {Op("DelConstrain"), N::kDefine, HDelConstraint},
    {Op("UpdConstrain"), N::kDefine, HUpdConstraint},
    {Op("GetConstrain"), N::kRead, HGetConstraint},
    {Op("FieldConstrain"), N::kRead, HFieldConstraints},
    {Op("PutDefaultValue"), N::kDefine, HPutDefault},
    {Op("GetDefaultValue"), N::kRead, HGetDefault},
    {Op("DelDefaultValue"), N::kDefine, HDelDefault},
    // cross references
    {Op("AddFXREF"), N::kDefine, HAddFieldXref},
    {Op("AddTXREF"), N::kDefine, HAddTableXref},
    {Op("DelFXREF"), N::kDefine, HDelFieldXref},
    {Op("DelTXREF"), N::kDefine, HDelTableXref},
    {Op("XRefFromField"), N::kRead, HXrefsFromField},
    {Op("XRefToField"), N::kRead, HXrefsToField},
    {Op("GetTXREF"), N::kRead, HGetTableXref},
    {Op("GetFXREF"), N::kRead, HGetFieldXref},
    {Op("DelXREF"), N::kDefine, HDelXref},
    {Op("TBRefFrom"), N::kRead, HTablesReferredFrom},
    {Op("TBRefTo"), N::kRead, HTablesReferringTo},
    {Op("GetXRef"), N::kRead, HGetXrefByName},
    {Op("XRefTest"), N::kRead, HXrefTest},
    // server files
    {Op("BackupTable"), N::kDefine, HBackupTable},
    {Op("RestoreTable"), N::kDefine, HRestoreTable},
    {Op("CFUsers"), N::kAdmin, HSaveUsers},
    {Op("DFUsers"), N::kAdmin, HLoadUsers},
    // around the tables
    {Op("Alias"), N::kDefine, HAlias},
    {Op("TableAlias"), N::kSession, HTableAliases},
    {Op("2CpyField"), N::kWrite, HCopyTwoFields},
    {Op("FFCopy"), N::kWrite, HCopyTable},
    {Op("GetIDTable"), N::kSession, HTableId},
    {Op("Structure"), N::kRead, HStructure},
    {Op("GetFsf"), N::kSession, HFieldSpecFormat},
    {Op("FsfToZdb"), N::kSession, HFieldSpecToTable},
    {Op("Create"), N::kSession, HCreate},
    {Op("ExpCheck"), N::kRead, HExpressionCheck},
    {Op("GetSelector"), N::kSession, HSelector},
    {Op("Internal"), N::kSession, HInternal},
    // streams
    {Op("SqlRun"), N::kDefine, HScript},
    {Op("ExportDB"), N::kAdmin, HExport},
    {Op("ImportDB"), N::kAdmin, HImport},
};

bool SendStatus(Conn& conn, int32_t status) {
  uint8_t word[4];
  zdb::wire::PutI32(word, status);
  return conn.WriteAll(word, 4);
}

}  // namespace

const OpRow* OpTable(size_t* count) {
  *count = sizeof kOps / sizeof kOps[0];
  return kOps;
}

const OpRow* FindOp(uint8_t kind, uint32_t opcode) {
  for (const auto& row : kOps)
    if (row.kind == kind && row.opcode == opcode) return &row;
  return nullptr;
}

bool SlotsMatch(std::string_view rule, const Request& r) {
  // The catalogue reads its own shapes; a temporary operation lends its reader to a bare rule.
  const zdb::wire::Operation op{"", 0, 0, rule};
  const size_t named = static_cast<size_t>(op.SlotCount());
  if (op.OpenEnded() ? r.Count() < named : r.Count() != named) return false;
  for (size_t i = 0; i < named; ++i) {
    const zdb::wire::SlotShape shape = op.Slot(static_cast<int>(i));
    const size_t len = r.Len(i);
    if (shape.type == '#' ? len != shape.bytes : shape.type != '*' && len == 0) return false;
  }
  return true;
}

namespace {

// The record requests that may trust what this zdbd last knew of the catalog over PostgreSQL:
// their first statement checks it (PgConn::ArmCheck), and one that finds it moved is carried
// out again. Each changes nothing before that statement but the session's record positions
// (Positions), and the writers among them write once, with their last statement.
struct Trusted {
  Handler handler;
  bool soleWrite;
};
constexpr Trusted kTrusted[] = {
    {HRead, false},      {HGetRead, false}, {HGetField, false}, {HIsNull, false},
    {HTestField, false}, {HFRead, false},   {HMatGet, false},   {HPutWrite, true},
    {HPutField, true},   {HFWrite, true},   {HMatPut, true},    {HAppendBlank, true},
};

const Trusted* TrustedRow(const OpRow* row) {
  if (!row || !Storage::Postgres()) return nullptr;
  for (const auto& t : kTrusted)
    if (t.handler == row->handler) return &t;
  return nullptr;
}

// The record positions of a session, put back before its request is carried out again.
class Positions {
 public:
  void Take(ServerSession& s) {
    saved_.clear();
    for (auto& [name, use] : s.dbs)
      for (auto& [key, open] : use.tables) saved_.emplace_back(&open, open.current);
  }
  void Restore() {
    for (auto& [open, current] : saved_) open->current = current;
  }

 private:
  std::vector<std::pair<OpenTable*, int64_t>> saved_;
};

// True when the catalog the request trusted had moved: its statements were refused, or none
// carried the check and the check made now finds it moved.
bool FoundStale(Server& server) {
  if (PgConn::Stale()) return true;
  // A look at the locks deferred to a write that never came (the request failed before it):
  // made again on its own, so that a held lock answers first, as it would have.
  std::vector<std::string> keys;
  uint32_t handle = 0;
  if (PgConn::LocksPending(&keys, &handle)) return true;
  if (!PgConn::CheckArmed()) return false;
  const int64_t expected = PgConn::Expected();
  server.users.NewRequest(false);
  return server.users.CatalogGeneration() != 0 && server.users.Known() != expected;
}

// The session's own connection to the database of its open transaction, if it has one.
Db* TransactionConn(ServerSession& s) {
  if (s.txDb.empty()) return nullptr;
  auto it = s.dbs.find(s.txDb);
  return it == s.dbs.end() ? nullptr : it->second.own.get();
}

int32_t Carry(Call& call, const OpRow* row) {
  Server& server = call.server;
  const Trusted* trust = call.session ? TrustedRow(row) : nullptr;
  bool trusting = trust && server.users.NewRequest(true);
  // A session transaction on SQLite that read before another session committed: its first write
  // is refused as busy however long it waits, so the request runs once more on a fresh look.
  bool renewable = call.session && !Storage::Postgres() && !call.session->txDb.empty();
  thread_local Positions positions;
  struct End {
    ~End() { PgConn::EndCheck(); }
  } end;
  for (;;) {
    PgConn::SoleWrite(trust && trust->soleWrite);
    if (trusting || renewable) positions.Take(*call.session);
    int32_t status = kOk;
    if (!PrivilegeOk(call, row->need)) {
      status = kDenied;
    } else if (call.session) {
      // The requests that stream run on the session's own connections: a long script or a
      // client slow to take its file holds up no other session.
      bool streams =
          row->handler == &HScript || row->handler == &HExport || row->handler == &HImport;
      bool writes = streams || row->need == Need::kWrite || row->need == Need::kDefine;
      // On PostgreSQL an expression runs as a script does, on a login of the script role that
      // the request may have just made: the statements that made it must be committed first,
      // which the shared connection's open transaction would not be.
      bool own = streams || (row->handler == &HExpressionCheck && Storage::Postgres());
      RequestDbs dbs(server, *call.session, own, writes);
      status = dbs.Refused() ? kDiskFull : row->handler(call);
      if (trusting && FoundStale(server)) {
        dbs.Finish(status);
        positions.Restore();
        trusting = false;
        server.users.NewRequest(false);
        continue;
      }
      if (renewable && status == kBusy) {
        renewable = false;
        Db* tx = TransactionConn(*call.session);
        if (tx && tx->RestartUnwritten()) {
          dbs.Finish(status);
          positions.Restore();
          continue;
        }
        // Rolled back but not begun again: the session is told, not left writing outside it.
        if (tx && !tx->InTransaction()) call.session->txDb.clear();
      }
      status = dbs.Finish(status);
      // A handler that met the full disk outside SQLite (an upload) has said why itself.
      if (status == kDiskFull && !dbs.Reason().empty()) call.session->lastDiskFull = dbs.Reason();
      return status;
    } else {
      return row->handler(call);
    }
    if (trusting && FoundStale(server)) {
      trusting = false;
      server.users.NewRequest(false);
      continue;
    }
    return status;
  }
}

}  // namespace

bool Dispatch(Server& server, Conn& conn, Request& req) {
  auto began = std::chrono::steady_clock::now();
  server.requests.fetch_add(1, std::memory_order_relaxed);
  server.users.NewRequest();
  Call call{server, conn, req, nullptr, req.header.sessionHandle};
  const OpRow* row = FindOp(req.header.kind, req.header.opcode);
  int32_t status = kOk;
  PgConn::TakeThreadError();  // what an earlier request left
  std::unique_lock<std::mutex> held;
  if (!row) {
    status = kUnsupported;
  } else if (!SlotsMatch(row->slots, req)) {
    status = kMalformed;
  } else if (row->need != Need::kNothing) {
    call.session = server.sessions.Find(req.header.sessionHandle);
    if (call.session) held = std::unique_lock<std::mutex>(call.session->mutex);
    if (!call.session || call.session->ended) status = kNoSession;
  }
  if (status == kOk) status = Carry(call, row);
  if (status != kOk && status != kUnsupported) {
    // PostgreSQL's own words say which value or character it could not take.
    std::string storage = PgConn::TakeThreadError();
    if (!storage.empty()) storage = " (PostgreSQL: " + storage + ")";
    LogEvent(Event::kRequestFailed, LogLevel::kInfo, "%s (opcode %u) of session %08X: %d %s%s",
             row ? row->name : "?", req.header.opcode, req.header.sessionHandle, status,
             StatusText(status).c_str(), storage.c_str());
  }
  bool sent = (call.streamsDone || FinishStreams(call)) &&
              (req.StatusOnly() ? SendStatus(conn, status) : [&] {
                auto reply = BuildFullReply(req, call.replyHandle, status);
                return conn.WriteAll(reply.data(), reply.size());
              }());
  Metrics& m = TheMetrics();
  m.Request(FamilyOf(row), status, std::chrono::steady_clock::now() - began);
  if (row && row->handler == &HScript) m.Add(m.scriptRuns[static_cast<size_t>(ClassOf(status))]);
  if (!sent) m.Error(ErrorKind::kReplyNotSent);
  return sent && !call.closeAfter;
}

}  // namespace zdbd
