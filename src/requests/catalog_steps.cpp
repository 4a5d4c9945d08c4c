// The catalog members with steps of their own beyond their rows (catalog_ops.h): the run login
// and its end, database export and import, the field descriptor and the field-definition change.

#include "net/request.h"
#include "requests/catalog_members.h"
#include "requests/catalog_ops.h"
#include "requests/field_lookup.h"
#include "requests/request_table.h"
#include "requests/selection.h"

namespace zdb::catalog {

// The run login and its end. A run session is marked in the connection options of every later
// header, for the Session's life: the server tells run sessions apart by that bit, also on the
// implicit logins that follow a failed run login.
int32_t Run(Session& s, const char* user, const char* password, void* data, int32_t length,
            int32_t* counter) {
  if (s.LoggedIn()) return kOk;
  if (!user || !password || length < 0) return kErrArgument;
  s.connectionOptions |= kRunSessionBit;
  // The credentials fill slots 0 and 1 inside the login; the row's slots 2 and 3 ride along.
  constexpr const RequestSpec& row = kMember<MemberIndex("Z_Run")>;
  static_assert(row.opcode == wire::Op("Login").opcode && row.slotCount == 4);
  Request extra(row.kindFlags, row.opcode, static_cast<int8_t>(row.slotCount));
  extra.SetSlot(2, static_cast<uint32_t>(length), data);
  extra.SetSlot(3, 4, counter);
  return s.Login(user, password, &extra);
}

int32_t NoRun(Session& s, void* data, int32_t length) {
  const int32_t r = ExecuteRequest(s, kMember<MemberIndex("Z_NoRun")>, {data, length});
  if (r == kOk) s.sessionHandle = wire::kNoSession;
  return r;
}

}  // namespace zdb::catalog

namespace zdb::catalog {
namespace {

// Runs a member whose exchange moves files. A local path longer than a file name may be is
// refused before anything is sent.
int32_t RunWithFiles(Session& s, const RequestSpec& row, std::initializer_list<ArgValue> args,
                     const char* upload, const char* download) {
  if ((upload && !FitsFileName(upload)) || (download && !FitsFileName(download)))
    return kErrArgument;
  return ExecuteRequest(s, row, args, nullptr, {upload ? upload : "", download ? download : ""});
}

}  // namespace

int32_t ExportDB(Session& s, const char* first, const char* second, const char* localPath) {
  if (localPath == nullptr || localPath[0] == '\0') return kErrArgument;
  return RunWithFiles(s, kMember<MemberIndex("Z_ExportDB")>, {first, second, localPath}, nullptr,
                      localPath);
}

int32_t ImportDB(Session& s, const char* first, const char* second, const char* sendPath,
                 const char* receivePath) {
  if (sendPath == nullptr || receivePath == nullptr) return kErrArgument;
  return RunWithFiles(s, kMember<MemberIndex("Z_ImportDB")>, {first, second, sendPath, receivePath},
                      sendPath, receivePath);
}

}  // namespace zdb::catalog

// Z_GetField shares its request with the single-field calls that must size a value.
namespace zdb::catalog {

int32_t GetField(Session& s, char* fieldName, char* defaultValue, void* descriptor) {
  if (!fieldName) return kErrArgument;
  return fields::RequestFieldDescriptor(s, fieldName, reinterpret_cast<uint8_t*>(defaultValue),
                                        static_cast<uint8_t*>(descriptor));
}

}  // namespace zdb::catalog

// Z_PFields changes the current table's field definitions on the server; the cached copy of
// that table is then fetched anew, so that field calls size their values by the new widths.
namespace zdb::catalog {

int32_t PFields(Session& s, void* definitions, int32_t length) {
  // The name of the table the change applies to, as the server knows it. Its own outcome does
  // not matter: an empty name simply finds nothing in the cache below.
  char table[wire::kNameKeySize] = {};
  tables::RunSelection(s, tables::Selection::kGetTable, {table});
  table[sizeof table - 1] = 0;

  const int32_t r = ExecuteRequest(s, kMember<MemberIndex("Z_PFields")>, {definitions, length});
  if (r != kOk) return r;
  uint8_t index = 0;
  const int32_t dropped = DropTable(s, table, &index);
  if (dropped != kOk) return dropped;
  const int32_t added = AddTable(s, table, &index);
  if (added != kOk) return added;
  s.fieldCache.Selected()->selectedTable = index;
  return s.lastResult;
}

}  // namespace zdb::catalog
