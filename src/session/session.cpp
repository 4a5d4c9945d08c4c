#include "session/session.h"

#include <cstring>

#include "platform/platform.h"
#include "session/charset.h"
#include "wire/catalogue.h"
#include "wire/le.h"

namespace zdb {

Session::Session() : threadId(platform::CurrentThreadId()) {}

Session::~Session() {
  if (LoggedIn()) {
    // A logout whose result nobody can see any more; the server would otherwise keep the
    // session until it expires.
    constexpr const wire::Operation& logout = wire::Op("Logout");
    if (PrepareRequest(logout.kindFlags, logout.opcode, 0) == kOk) Exchange();
    sessionHandle = wire::kNoSession;
  }
  if (socket != platform::kNoSocket) {
    platform::CloseSocket(socket);
    socket = platform::kNoSocket;
  }
}

int32_t Session::LoginWithSlots(const char* user, const char* password, int8_t count) {
  if (LoggedIn()) return kOk;
  constexpr const wire::Operation& login = wire::Op("Login");
  kindFlags = login.kindFlags;
  opcode = login.opcode;
  paramCount = count;
  std::string u = ToServerText(user);
  std::string p = ToServerText(password);
  SetSlot(0, static_cast<uint32_t>(u.size()), u.data());
  SetSlot(1, static_cast<uint32_t>(p.size()), p.data());
  int32_t r = Exchange();
  if (r != kOk) {
    lastResult = r;
    return r;
  }
  ResetFieldCache(*this);
  uint8_t version[4] = {0, 0, 0, 0};
  constexpr const wire::Operation& getVersion = wire::Op("GetVersion");
  if (PrepareRequest(getVersion.kindFlags, getVersion.opcode, 1) == kOk) {
    SetSlot(0, 4, version);
    Exchange();
    if (lastResult == kOk && (wire::GetU32(version) & 0xFF00u) != 0x1200u) {
      lastResult = kErrVersion;
      return kErrVersion;
    }
  }
  lastResult = kOk;
  return kOk;
}

}  // namespace zdb
