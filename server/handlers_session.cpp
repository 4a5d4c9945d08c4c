#include "handlers.h"
#include "status.h"
#include "wire/frame.h"

namespace zdbd {

namespace {
constexpr uint32_t kVersionWord = 0x1210;
}

int32_t HLogin(Call& c) {
  std::string user = c.req.Text(0), password = c.req.Text(1);
  bool admin = false;
  c.replyHandle = zdb::wire::kNoSession;
  if (c.server.users.Any()) {
    if (int32_t rc = c.server.users.CheckLogin(user, password, &admin); rc != kOk) {
      Log("login refused for user '%s'", user.c_str());
      return rc;
    }
  } else {
    admin = true;  // before the first user exists the server is open to everyone
  }
  auto s = c.server.sessions.Create(user, admin, static_cast<size_t>(c.server.options.maxSessions));
  if (!s) {
    Log("login refused for %s: %d sessions live (--max-sessions); existing sessions go on",
        user.empty() ? "anonymous" : user.c_str(), c.server.options.maxSessions);
    return kTooManySessions;
  }
  s->runSession = c.req.Count() == 4;
  if (s->runSession) c.req.PutU32(3, static_cast<uint32_t>(c.server.sessions.Count()));
  c.replyHandle = s->handle;
  Log("session %08X opened for %s%s", s->handle, user.empty() ? "anonymous" : user.c_str(),
      s->runSession ? " (run)" : "");
  return kOk;
}

int32_t HLogout(Call& c) {
  c.closeAfter = true;
  c.replyHandle = zdb::wire::kNoSession;
  auto s = c.server.sessions.Remove(c.req.header.sessionHandle);
  if (!s) return kNoSession;
  c.server.EndSession(s, "logout");
  return kOk;
}

int32_t HVersion(Call& c) {
  c.req.PutU32(0, kVersionWord);
  return kOk;
}

int32_t HErrorText(Call& c) {
  int32_t code = static_cast<int32_t>(c.req.U32(0));
  std::string text = StatusText(code);
  auto s = c.server.sessions.Find(c.req.header.sessionHandle);
  if (s && (code == kSqlError || code == kScriptRefused || code == kDiskFull)) {
    std::lock_guard<std::mutex> lock(s->mutex);
    const std::string& why = code == kDiskFull ? s->lastDiskFull : s->lastSqlError;
    if (!why.empty()) text += ": " + why;
  }
  c.req.PutText(1, text);
  return kOk;
}

}  // namespace zdbd
