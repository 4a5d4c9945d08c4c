#include "session/session.h"

#include <cstring>

#include "net/charset.h"
#include "platform/platform.h"
#include "wire/catalogue.h"
#include "wire/le.h"

namespace zdb {

Session::Session() : threadId(platform::CurrentThreadId()) {}

Session::~Session() {
  if (LoggedIn()) {
    // A logout whose result nobody can see any more; the server would otherwise keep the
    // session until it expires.
    const Request logout(wire::Op("Logout"), 0);
    if (PrepareRequest(logout) == kOk) Exchange(logout);
    sessionHandle = wire::kNoSession;
  }
}

int32_t Session::Login(const char* user, const char* password, const Request* extra) {
  if (LoggedIn()) return kOk;
  Request login(wire::Op("Login"), extra ? extra->paramCount : 2);
  for (int i = 2; i < login.paramCount; ++i)
    login.SetSlot(i, extra->slotLength[static_cast<size_t>(i)],
                  extra->slotBuffer[static_cast<size_t>(i)]);
  std::string u = ToServerText(user);
  std::string p = ToServerText(password);
  login.SetSlot(0, static_cast<uint32_t>(u.size()), u.data());
  login.SetSlot(1, static_cast<uint32_t>(p.size()), p.data());
  int32_t r = Exchange(login);
  if (r != kOk) {
    lastResult = r;
    return r;
  }
  ResetFieldCache(*this);
  uint8_t version[4] = {0, 0, 0, 0};
  Request getVersion(wire::Op("GetVersion"), 1);
  if (PrepareRequest(getVersion) == kOk) {
    getVersion.SetSlot(0, 4, version);
    Exchange(getVersion);
    if (lastResult == kOk && (wire::GetU32(version) & 0xFF00u) != 0x1200u) {
      lastResult = kErrVersion;
      return kErrVersion;
    }
  }
  lastResult = kOk;
  return kOk;
}

}  // namespace zdb
