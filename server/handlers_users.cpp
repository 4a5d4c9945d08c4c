#include <cstring>

#include "handlers.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace {

std::string Arg(Call& c, size_t i) {
  return Trimmed(c.req.Text(i));
}

bool IsAdminRole(const std::string& role) {
  std::string r;
  for (char ch : role) r += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return r == "ADMIN";
}

// Fills a list slot with fixed-width entries and returns how many were written.
uint32_t PutList(std::vector<uint8_t>& out, size_t width, uint32_t count,
                 const std::vector<std::string>& names) {
  std::fill(out.begin(), out.end(), 0);
  size_t n = std::min<size_t>({names.size(), out.size() / width, count});
  for (size_t i = 0; i < n; ++i)
    std::memcpy(out.data() + width * i, names[i].data(), std::min(names[i].size(), width - 1));
  return static_cast<uint32_t>(n);
}

int32_t GrantToAll(Call& c, const std::string& db, const std::string& table, uint32_t bits,
                   bool grant) {
  for (const auto& u : c.server.users.List())
    if (int32_t rc = c.server.users.Grant(u, db, table, bits, grant); rc != kOk) return rc;
  return kOk;
}

}  // namespace

int32_t HValidUser(Call& c) {
  bool admin = false;
  return c.server.users.CheckLogin(Arg(c, 0), c.req.Text(1), &admin);
}

int32_t HReadUser(Call& c) {
  std::string text = c.server.users.Describe(Arg(c, 0));
  c.req.PutText(2, text);
  return text.empty() ? kUserNotFound : kOk;
}

int32_t HAddUser(Call& c) {
  bool first = !c.server.users.Any();
  int32_t rc = c.server.users.Add(Arg(c, 0), c.req.Text(1), first || IsAdminRole(Arg(c, 2)));
  if (rc == kOk) Log("user '%s' added%s", Arg(c, 0).c_str(), first ? " as the first admin" : "");
  return rc;
}

int32_t HDelUser(Call& c) {
  std::string name = Arg(c, 0);
  auto& users = c.server.users;
  if (users.IsAdmin(name) && users.AdminCount() == 1 && users.List().size() > 1) return kDenied;
  return users.Delete(name);
}

int32_t HUpdUser(Call& c) {
  return c.server.users.Update(Arg(c, 0), c.req.Text(1), Arg(c, 2));
}

int32_t HNumUsers(Call& c) {
  c.req.PutU32(1, static_cast<uint32_t>(c.server.users.List().size()));
  c.req.PutU32(2, static_cast<uint32_t>(c.server.users.AdminCount()));
  return kOk;
}

int32_t HGetUsers(Call& c) {
  c.req.PutU32(1, PutList(c.req.slots[2], 65, c.req.U32(1), c.server.users.List()));
  return kOk;
}

int32_t HGrant(Call& c) {
  return c.server.users.Grant(Arg(c, 0), Arg(c, 1), Arg(c, 2), c.req.U32(4), true);
}

int32_t HRevoke(Call& c) {
  return c.server.users.Grant(Arg(c, 0), Arg(c, 1), Arg(c, 2), c.req.U32(4), false);
}

int32_t HIsAuthorized(Call& c) {
  std::string user = Arg(c, 0);
  auto& users = c.server.users;
  if (!users.Any() || users.IsAdmin(user)) return kOk;
  uint32_t want = c.req.U32(4);
  return (users.Bits(user, Arg(c, 1), Arg(c, 2)) & want) == want ? kOk : kDenied;
}

int32_t HTbGrantAll(Call& c) {
  return GrantToAll(c, Arg(c, 0), Arg(c, 1), c.req.U32(2), true);
}
int32_t HTbRevokeAll(Call& c) {
  return GrantToAll(c, Arg(c, 0), Arg(c, 1), c.req.U32(2), false);
}

int32_t HUsrGrantAll(Call& c) {
  return c.server.users.Grant(Arg(c, 0), Arg(c, 1), "*", c.req.U32(3), true);
}

int32_t HUsrRevokeAll(Call& c) {
  return c.server.users.Grant(Arg(c, 0), Arg(c, 1), "*", c.req.U32(3), false);
}

int32_t HNumUsrPerTb(Call& c) {
  c.req.PutU32(2, static_cast<uint32_t>(c.server.users.UsersOf(Arg(c, 0), Arg(c, 1)).size()));
  c.req.PutU32(3, static_cast<uint32_t>(c.server.users.List().size()));
  return kOk;
}

int32_t HNumTbPerUser(Call& c) {
  std::string user = Arg(c, 0), db = Arg(c, 1);
  c.req.PutU32(3, static_cast<uint32_t>(c.server.users.TablesOf(user, db).size()));
  c.req.PutU32(4, c.server.users.Bits(user, db, "*"));
  return c.server.users.List().empty() ? kUserNotFound : kOk;
}

int32_t HUsrPerTable(Call& c) {
  auto names = c.server.users.UsersOf(Arg(c, 0), Arg(c, 1));
  c.req.PutU32(3, PutList(c.req.slots[2], 65, c.req.U32(3), names));
  return kOk;
}

int32_t HTablesPerUser(Call& c) {
  auto tables = c.server.users.TablesOf(Arg(c, 0), Arg(c, 1));
  c.req.PutU32(4, PutList(c.req.slots[3], 33, c.req.U32(4), tables));
  return kOk;
}

int32_t HTbDeleteAll(Call& c) {
  return c.server.users.DropTablePrivileges(Arg(c, 0), Arg(c, 1));
}

int32_t HGetAccounts(Call& c) {
  auto names = c.server.users.List();
  auto& out = c.req.slots[0];
  std::fill(out.begin(), out.end(), 0);
  size_t n = std::min<size_t>({names.size(), out.size() / 12, c.req.U32(1)});
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(out.data() + 12 * i, names[i].data(), std::min<size_t>(names[i].size(), 7));
    zdb::wire::PutU32(out.data() + 12 * i + 8, c.server.users.IsAdmin(names[i]) ? 1 : 0);
  }
  c.req.PutU32(1, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HGetPrivileges(Call& c) {
  std::string user = Arg(c, 0);
  auto& users = c.server.users;
  uint32_t bits = users.IsAdmin(user) ? kPrivAll : users.Bits(user, Arg(c, 1), Arg(c, 2));
  c.req.PutU32(4, bits);
  return kOk;
}

}  // namespace zdbd
