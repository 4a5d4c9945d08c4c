#include "session/control.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "net/charset.h"
#include "net/udp.h"
#include "session/registry.h"
#include "wire/le.h"

namespace zdb {
namespace {}  // namespace

int32_t SelectHost(const char* host) {
  if (!host || !*host || std::strlen(host) > kHostTextMax) return kErrComm;
  auto s = std::make_unique<Session>();
  HostText t = SplitHostText(host);
  uint32_t address = 0;
  if (!ResolveHostName(t.name, &address)) return kErrComm;
  s->hostName = t.name;
  s->port = t.port;
  s->serverAddress = {address, static_cast<uint16_t>(t.port)};
  // The probe reads the host text again, port included.
  if (ProbeServer(*s, host) != kProbeAnswered) return kProbeSilent;
  RegisterSession(std::move(s));
  return kOk;
}

int32_t InitSession(Session& s, const char* user, const char* password) {
  if (s.LoggedIn()) return kOk;  // the credentials are not even looked at
  if (!user || !password) return kErrArgument;
  return s.Login(user, password);
}

int32_t GetServerVersion(Session& s, uint32_t* version) {
  if (!version) return kErrArgument;
  Request request(wire::Op("GetVersion"), 1);
  if (s.PrepareRequest(request) != kOk) return s.lastResult;
  // The caller's word goes out as it is and comes back as the server's version word.
  uint8_t word[4];
  wire::PutU32(word, *version);
  request.SetSlot(0, sizeof word, word);
  s.Exchange(request);
  *version = wire::GetU32(word);
  return s.lastResult;
}

int32_t FinishSession(Session& s) {
  const Request request(wire::Op("Logout"), 0);
  if (s.PrepareRequest(request) != kOk) return s.lastResult;
  s.Exchange(request);
  if (s.lastResult == kOk) s.sessionHandle = wire::kNoSession;
  return s.lastResult;
}

int32_t SetConnectionMode(Session& s, int32_t mode) {
  if (s.LoggedIn()) return kErrComm;
  s.connectionOptions &= static_cast<uint16_t>(~kPersistentBits);
  switch (static_cast<int8_t>(mode & 0xFF)) {
    case 1:
      s.connectionOptions |= 0x10;
      break;
    case 2:
      s.connectionOptions |= 0x20;
      break;
    default:
      break;
  }
  return kOk;
}

int32_t SetHeaderChars(Session& s, const char* chars) {
  if (!chars) return kErrArgument;
  for (size_t i = 0; i < s.headerChars.size(); ++i)
    s.headerChars[i] = static_cast<uint8_t>(chars[i]);
  return kOk;
}

int32_t CopyHostName(Session& s, char* buffer) {
  if (s.hostName.empty()) return kErrComm;
  if (!buffer) return kErrArgument;
  std::memcpy(buffer, s.hostName.c_str(), s.hostName.size() + 1);
  return kOk;
}

int32_t GetErrorText(Session& s, uint32_t code, char* text) {
  if (!text) return kErrArgument;
  Request request(wire::Op("GetError"), 2);
  if (s.PrepareRequest(request) != kOk) return s.lastResult;
  uint8_t word[4];
  wire::PutU32(word, code);
  request.SetSlot(0, sizeof word, word);
  request.SetSlot(1, kErrorTextSize, text);
  s.Exchange(request);
  FromServerCharset(reinterpret_cast<uint8_t*>(text), kErrorTextSize);
  return s.lastResult;
}

int32_t FormatSocketError(Session& s, char* buffer) {
  // The longest text, with INT32_MIN, is 29 characters and its terminating zero.
  if (buffer) std::snprintf(buffer, 32, "(%d) WinSock Error !", s.lastSocketError);
  return s.lastSocketError;
}

}  // namespace zdb
