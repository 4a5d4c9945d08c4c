// The run login and its end. A run session is marked in the connection options of every later
// header, for the Session's life: the server tells run sessions apart by that bit, also on the
// implicit logins that follow a failed run login.
#include "catalog/catalog_members.h"
#include "catalog/catalog_ops.h"

namespace zdb::catalog {

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
