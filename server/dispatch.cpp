#include "dispatch.h"

#include <cstdlib>
#include <cstring>

#include "handlers.h"
#include "metrics.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace {

using N = Need;

// kind, opcode, name, slots, need, handler
constexpr OpRow kOps[] = {
    {1, 0, "Login", ">T T", N::kNothing, HLogin},
    {1, 1, "Logout", ">", N::kNothing, HLogout},
    {1, 2, "GetVersion", "4", N::kNothing, HVersion},
    {1, 120, "GetError", "4 129", N::kNothing, HErrorText},
    // databases and tables in use
    {1, 3, "UseDB", "T", N::kSession, HUseDb},
    {1, 4, "UnUseDB", "T", N::kSession, HUnUseDb},
    {1, 5, "SelDB", "T", N::kSession, HSelDb},
    {1, 6, "GetDB", "9", N::kSession, HGetDb},
    {1, 10, "OpenTable", "T T T", N::kSession, HOpenTable},
    {1, 11, "CloseTable", "T", N::kSession, HCloseTable},
    {1, 12, "SelTable", "T T", N::kSession, HSelTable},
    {1, 13, "GetTable", "33", N::kSession, HGetTable},
    // records, locks, transactions, maintenance
    {1, 7, "DBLock", "T", N::kWrite, HDbLock},
    {1, 8, "DBUnLock", "T", N::kSession, HDbUnlock},
    {1, 9, "DBIsLock", "T", N::kSession, HDbIsLock},
    {1, 16, "LockTable", "T", N::kWrite, HLockTable},
    {1, 22, "Seek", "T T", N::kRead, HSeek},
    {1, 23, "Read", "T T", N::kRead, HRead},
    {1, 24, "AppendBlank", "", N::kWrite, HAppendBlank},
    {1, 25, "Write", "", N::kWrite, HWrite},
    {1, 26, "Delete", "T", N::kWrite, HDelete},
    {1, 135, "RecUnLock", "T", N::kSession, HRecUnlock},
    {1, 138, "WhoLock", "T 33", N::kSession, HWhoLock},
    {1, 14, "BeginTransaction", "", N::kSession, HBegin},
    {1, 15, "EndTransaction", "", N::kSession, HEnd},
    {1, 17, "TRStatus", "4", N::kSession, HTrStatus},
    {1, 18, "Commit", "", N::kSession, HCommit},
    {1, 19, "RollBack", "", N::kSession, HRollBack},
    {1, 115, "CompactTable", "T", N::kDefine, HCompactTable},
    {1, 117, "ClearTable", "T 2", N::kWrite, HClearTable},
    {1, 35, "CurrentKey", "* 4", N::kRead, HCurrentKey},
    // field values
    {1, 27, "GetField", "T * 4", N::kRead, HGetField},
    {1, 28, "PutField", "T * 4", N::kWrite, HPutField},
    {1, 29, "TestField", "T * 4", N::kRead, HTestField},
    {1, 133, "IsNull", "T 2", N::kRead, HIsNull},
    {1, 40, "CpyField", "T T T T", N::kWrite, HCpyField},
    {1, 32, "FRead", "T T * 4", N::kRead, HFRead},
    {1, 33, "FWrite", "T T * 4", N::kWrite, HFWrite},
    {1, 30, "MatGetFields", "12900 *", N::kRead, HMatGet},
    {1, 118, "GetRead", "T T 12900 *", N::kRead, HGetRead},
    {1, 31, "MatPutFields", "12900 *", N::kWrite, HMatPut},
    {1, 119, "PutWrite", "12900 *", N::kWrite, HPutWrite},
    // fields
    {1, 63, "InfoFields", "T 12900", N::kRead, HInfoFields},
    {1, 55, "AddField", "T T 132", N::kDefine, HAddField},
    {1, 56, "DelField", "T", N::kDefine, HDelField},
    {1, 57, "UpdField", "T T 132", N::kDefine, HUpdField},
    {1, 58, "GetField descriptor", "T * 132", N::kRead, HGetFieldDescriptor},
    {1, 59, "TableFields", "4 9900", N::kRead, HTableFields},
    {1, 60, "GFields", "* 4", N::kRead, HGFields},
    {1, 61, "PFields", "* 4", N::kDefine, HPFields},
    {1, 62, "CanBeDelete", "T", N::kRead, HCanBeDelete},
    // databases and tables catalog
    {1, 86, "NewDB", "T T T 2 T", N::kAdmin, HNewDb},
    {1, 85, "DelDB", "", N::kAdmin, HDelDb},
    {1, 87, "NumDB", "4 4", N::kSession, HNumDb},
    {1, 83, "DataBase", "4 *", N::kSession, HDatabaseList},
    {1, 84, "GetDataBase", "773", N::kSession, HGetDatabaseRecord},
    {1, 92, "Exist", "T 64 4", N::kSession, HExist},
    {1, 132, "LastUpdate", "T 11 9 2", N::kSession, HLastUpdate},
    {1, 70, "CreTable", "T T T 113", N::kDefine, HCreTable},
    {1, 71, "DbTables", "4 *", N::kSession, HDbTables},
    {1, 72, "DelTable", "T 4", N::kDefine, HDelTable},
    {1, 73, "GetPhysName", "256", N::kSession, HPhysName},
    {1, 75, "GetTable record", "113", N::kRead, HGetTableRecord},
    {1, 76, "NumTables", "4 4", N::kSession, HNumTables},
    {1, 77, "RebTable", "4 4", N::kDefine, HRebTable},
    {1, 78, "UpdTable", "113", N::kDefine, HUpdTable},
    {1, 81, "Rename", "T T", N::kDefine, HRename},
    // users and privileges
    {1, 94, "ValidUser", "T T T", N::kSession, HValidUser},
    {1, 95, "ReadUser", "T T 10000", N::kAdmin, HReadUser},
    {1, 96, "AddUser", "T T T", N::kAdmin, HAddUser},
    {1, 97, "DelUser", "T T T", N::kAdmin, HDelUser},
    {1, 98, "UpdUser", "T T T T", N::kAdmin, HUpdUser},
    {1, 99, "NumUsers", "T 4 4", N::kSession, HNumUsers},
    {1, 100, "GetUsers", "T 4 *", N::kSession, HGetUsers},
    {1, 103, "Grant", "T T T T 4", N::kAdmin, HGrant},
    {1, 104, "Revoke", "T T T T 4", N::kAdmin, HRevoke},
    {1, 105, "IsAuthorizated", "T T T T 4", N::kSession, HIsAuthorized},
    {1, 106, "TBGrantAll", "T T 4", N::kAdmin, HTbGrantAll},
    {1, 107, "TBRevokeAll", "T T 4", N::kAdmin, HTbRevokeAll},
    {1, 108, "UsrGrantAll", "T T T 4", N::kAdmin, HUsrGrantAll},
    {1, 109, "UsrRevokeAll", "T T T 4", N::kAdmin, HUsrRevokeAll},
    {1, 110, "NumUsrPerTB", "T T 4 4", N::kSession, HNumUsrPerTb},
    {1, 111, "NumTBPerUser", "T T T 4 4", N::kSession, HNumTbPerUser},
    {1, 112, "UsrPerTable", "T T * 4", N::kSession, HUsrPerTable},
    {1, 113, "TablesPerUser", "T T T * 4", N::kSession, HTablesPerUser},
    {1, 114, "TBDeleteAll", "T T", N::kAdmin, HTbDeleteAll},
    {1, 116, "GetAccounts", "* 4", N::kSession, HGetAccounts},
    {1, 137, "GetPrivileges", "T T T T 4", N::kSession, HGetPrivileges},
    // indexes
    {1, 36, "CreateIndex", "T T T", N::kDefine, HCreateIndex},
    {1, 37, "EraseIndex", "T", N::kDefine, HEraseIndex},
    {1, 38, "RebuildIndex", "T", N::kDefine, HRebuildIndex},
    {1, 64, "AddIFields", "T T 4", N::kDefine, HAddIndexFields},
    {1, 65, "DelIFields", "T T", N::kDefine, HDelIndexFields},
    {1, 66, "UpdIFields", "T T 4", N::kDefine, HUpdIndexFields},
    {1, 67, "IndexFields", "T 4 3900", N::kRead, HIndexFields},
    {1, 68, "TableIndex", "4 3600", N::kRead, HTableIndexes},
    {1, 69, "GetIndex", "T 36", N::kRead, HGetIndex},
    // constraints and default values
    {1, 42, "AddConstrain", "T 364", N::kDefine, HAddConstraint},
    {1, 43, "DelConstrain", "T 4", N::kDefine, HDelConstraint},
    {1, 44, "UpdConstrain", "T 364", N::kDefine, HUpdConstraint},
    {1, 45, "GetConstrain", "T 2 364", N::kRead, HGetConstraint},
    {1, 46, "FieldConstrain", "T 4 250", N::kRead, HFieldConstraints},
    {1, 129, "PutDefaultValue", "T T", N::kDefine, HPutDefault},
    {1, 130, "GetDefaultValue", "T 513", N::kRead, HGetDefault},
    {1, 131, "DelDefaultValue", "T", N::kDefine, HDelDefault},
    // cross references
    {1, 47, "AddFXREF", "T T T T T T T", N::kDefine, HAddFieldXref},
    {1, 48, "AddTXREF", "T T T T T T T", N::kDefine, HAddTableXref},
    {1, 49, "DelFXREF", "T T T T", N::kDefine, HDelFieldXref},
    {1, 50, "DelTXREF", "T T T T", N::kDefine, HDelTableXref},
    {1, 51, "XRefFromField", "T 29700 4", N::kRead, HXrefsFromField},
    {1, 52, "XRefToField", "T 29700 4", N::kRead, HXrefsToField},
    {1, 53, "GetTXREF", "T T T T 297", N::kRead, HGetTableXref},
    {1, 54, "GetFXREF", "T T T T 297", N::kRead, HGetFieldXref},
    {1, 125, "DelXREF", "T", N::kDefine, HDelXref},
    {1, 126, "TBRefFrom", "3304", N::kRead, HTablesReferredFrom},
    {1, 127, "TBRefTo", "3304", N::kRead, HTablesReferringTo},
    {1, 128, "GetXRef", "T 671", N::kRead, HGetXrefByName},
    {1, 136, "XRefTest", "T T", N::kRead, HXrefTest},
    // server files
    {1, 20, "BackupTable", "T T", N::kDefine, HBackupTable},
    {1, 21, "RestoreTable", "T T", N::kDefine, HRestoreTable},
    {1, 101, "CFUsers", "T", N::kAdmin, HSaveUsers},
    {1, 102, "DFUsers", "T", N::kAdmin, HLoadUsers},
    // around the tables
    {1, 39, "Alias", "T T T", N::kDefine, HAlias},
    {1, 90, "TableAlias", "3300 4", N::kSession, HTableAliases},
    {1, 41, "2CpyField", "T T T T T T", N::kWrite, HCopyTwoFields},
    {1, 122, "FFCopy", "T T", N::kWrite, HCopyTable},
    {1, 79, "GetIDTable", "T T 7", N::kSession, HTableId},
    {1, 80, "Structure", "64 1500 4", N::kRead, HStructure},
    {1, 74, "GetFsf", "2", N::kSession, HFieldSpecFormat},
    {1, 82, "FsfToZdb", "1500 4 4 T", N::kSession, HFieldSpecToTable},
    {1, 91, "Create", "T 4 4", N::kSession, HCreate},
    {1, 93, "ExpCheck", "T T", N::kRead, HExpressionCheck},
    {1, 121, "GetSelector", "508 2", N::kSession, HSelector},
    {1, 34, "Internal", "4 * *", N::kSession, HInternal},
    // streams
    {2, 0, "SqlRun", "T T 4", N::kDefine, HScript},
    {1, 88, "ExportDB", "T T T", N::kAdmin, HExport},
    {1, 89, "ImportDB", "T T T T", N::kAdmin, HImport},
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

bool SlotsMatch(const char* rule, const Request& r) {
  bool atLeast = *rule == '>';
  if (atLeast) ++rule;
  size_t i = 0;
  for (const char* p = rule; *p;) {
    while (*p == ' ') ++p;
    if (!*p) break;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    std::string token(p, end);
    p = end;
    if (i >= r.Count()) return false;
    size_t len = r.Len(i);
    if (token == "T" && len == 0) return false;
    if (token != "T" && token != "*" && len != std::strtoul(token.c_str(), nullptr, 10))
      return false;
    ++i;
  }
  return atLeast ? r.Count() >= i : r.Count() == i;
}

bool Dispatch(Server& server, Conn& conn, Request& req) {
  auto began = std::chrono::steady_clock::now();
  server.requests.fetch_add(1, std::memory_order_relaxed);
  Call call{server, conn, req, nullptr, req.header.sessionHandle};
  const OpRow* row = FindOp(req.header.kind, req.header.opcode);
  int32_t status = kOk;
  std::unique_lock<std::mutex> held;
  if (!row) {
    status = kUnsupported;
  } else if (!SlotsMatch(row->slots, req)) {
    status = kMalformed;
  } else if (row->need != Need::kNothing) {
    call.session = server.sessions.Find(req.header.sessionHandle);
    if (call.session) held = std::unique_lock<std::mutex>(call.session->mutex);
    if (!call.session || call.session->ended)
      status = kNoSession;
    else if (!PrivilegeOk(call, row->need))
      status = kDenied;
  }
  if (status == kOk) {
    if (call.session) {
      // The requests that stream run on the session's own connections: a long script or a
      // client slow to take its file holds up no other session.
      bool streams =
          row->handler == &HScript || row->handler == &HExport || row->handler == &HImport;
      bool writes = streams || row->need == Need::kWrite || row->need == Need::kDefine;
      RequestDbs dbs(server, *call.session, streams, writes);
      status = dbs.Refused() ? kDiskFull : row->handler(call);
      status = dbs.Finish(status);
      // A handler that met the full disk outside SQLite (an upload) has said why itself.
      if (status == kDiskFull && !dbs.Reason().empty()) call.session->lastDiskFull = dbs.Reason();
    } else {
      status = row->handler(call);
    }
  }
  if (status != kOk && status != kUnsupported)
    LogEvent(Event::kRequestFailed, LogLevel::kInfo, "%s (opcode %u) of session %08X: %d %s",
             row ? row->name : "?", req.header.opcode, req.header.sessionHandle, status,
             StatusText(status).c_str());
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
