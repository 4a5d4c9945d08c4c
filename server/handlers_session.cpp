#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "handlers.h"
#include "metrics.h"
#include "status.h"
#include "udp.h"
#include "wire/frame.h"

namespace zdbd {

namespace {

constexpr uint32_t kVersionWord = 0x1210;

sockaddr_in PeerAddress(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) a.sin_family = AF_UNSPEC;
  return a;
}

bool FromLoopback(int fd) {
  sockaddr_in a = PeerAddress(fd);
  return a.sin_family == AF_INET && IsLoopback(ntohl(a.sin_addr.s_addr));
}

std::string PeerText(int fd) {
  sockaddr_in a = PeerAddress(fd);
  char text[INET_ADDRSTRLEN] = "?";
  if (a.sin_family == AF_INET) ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return text;
}

}  // namespace

int32_t HLogin(Call& c) {
  std::string user = c.req.Text(0), password = c.req.Text(1);
  const char* who = user.empty() ? "anonymous" : user.c_str();
  bool admin = false;
  c.replyHandle = zdb::wire::kNoSession;
  Metrics& m = TheMetrics();
  if (c.server.users.Any()) {
    if (int32_t rc = c.server.users.CheckLogin(user, password, &admin); rc != kOk) {
      m.LoginRefused(LoginRefusal::kCredentials);
      LogEvent(Event::kLoginRefused, LogLevel::kWarning, "login refused for user '%s' from %s",
               user.c_str(), PeerText(c.conn.Fd()).c_str());
      return rc;
    }
  } else if (!FromLoopback(c.conn.Fd())) {
    // Until the first user exists, only this machine's own logins are administrators: the
    // first administrator is added from here (zdb user add, or zdbd --init-admin).
    m.LoginRefused(LoginRefusal::kRemoteWithoutUsers);
    LogEvent(Event::kLoginRefused, LogLevel::kWarning,
             "login of %s from %s refused: no users defined yet, and until the first is added "
             "only logins from this machine are accepted",
             who, PeerText(c.conn.Fd()).c_str());
    return kLoginRefused;
  } else {
    admin = true;
  }
  bool atLimit = false;
  auto s = c.server.sessions.Create(user, admin, static_cast<size_t>(c.server.options.maxSessions),
                                    &atLimit);
  if (!s && !atLimit) {
    // The limit is not the cause: the handle could not be claimed among the instances (their
    // shared database unreachable, or every handle tried already taken).
    m.LoginRefused(LoginRefusal::kHandleClaim);
    LogEvent(Event::kHandleClaim, LogLevel::kWarning,
             "login refused for %s: no session handle could be claimed in the shared database",
             who);
    return kTooManySessions;
  }
  if (!s) {
    m.LoginRefused(LoginRefusal::kSessionLimit);
    LogEvent(Event::kSessionLimit, LogLevel::kWarning,
             "login refused for %s: %d sessions live (--max-sessions); existing sessions go on",
             who, c.server.options.maxSessions);
    return kTooManySessions;
  }
  m.Add(m.sessionsOpened);
  s->runSession = c.req.Count() == 4;
  if (s->runSession) c.req.PutU32(3, static_cast<uint32_t>(c.server.sessions.Count()));
  c.replyHandle = s->handle;
  Log("session %08X opened for %s%s", s->handle, who, s->runSession ? " (run)" : "");
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
