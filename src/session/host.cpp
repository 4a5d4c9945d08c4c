#include "session/host.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "session/charset.h"
#include "session/host_text.h"
#include "session/registry.h"
#include "session/request_table.h"
#include "session/udp.h"
#include "wire/le.h"

namespace zdb {
namespace {

// The caller's word goes out as it is and comes back as the server's version word.
constexpr RequestSpec kVersionRow{"ZDB_GetVersion", wire::Op("GetVersion"), {Value(0)}};
constexpr RequestSpec kFinishRow{"ZDB_Finish", wire::Op("Logout"), {}};
constexpr RequestSpec kErrorTextRow{
    "Z_GetError", wire::Op("GetError"), {Value(0), Fixed(1, kErrorTextSize)}};

}  // namespace

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
  RequestScratch scratch;
  const int32_t r = ExecuteRequest(s, kVersionRow, {*version}, &scratch);
  if (scratch.exchanged) *version = scratch.ValueAt(0);
  return r;
}

int32_t FinishSession(Session& s) {
  const int32_t r = ExecuteRequest(s, kFinishRow, {});
  if (s.lastResult == kOk) s.sessionHandle = wire::kNoSession;
  return r;
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
  RequestScratch scratch;
  const int32_t r = ExecuteRequest(s, kErrorTextRow, {code, text}, &scratch);
  if (scratch.exchanged) FromServerCharset(reinterpret_cast<uint8_t*>(text), kErrorTextSize);
  return r;
}

int32_t FormatSocketError(Session& s, char* buffer) {
  // The longest text, with INT32_MIN, is 29 characters and its terminating zero.
  if (buffer) std::snprintf(buffer, 32, "(%d) WinSock Error !", s.lastSocketError);
  return s.lastSocketError;
}

}  // namespace zdb
