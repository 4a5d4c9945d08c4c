// Exported entry points of host selection, login and session control.
#include "api/guard.h"
#include "session/control.h"
#include "zdb_api.h"

using zdb::Session;
using zdb::api::Guarded;
using zdb::api::WithSession;

extern "C" {

int32_t ZDB_CALL ZDB_SelHost(const char* host) {
  return Guarded([&] { return zdb::SelectHost(host); });
}

int32_t ZDB_CALL ZDB_Init(const char* user, const char* password) {
  return WithSession([&](Session& s) { return zdb::InitSession(s, user, password); });
}

int32_t ZDB_CALL ZDB_GetVersion(uint32_t* version) {
  return WithSession([&](Session& s) { return zdb::GetServerVersion(s, version); });
}

int32_t ZDB_CALL ZDB_Finish(void) {
  return WithSession([&](Session& s) { return zdb::FinishSession(s); });
}

int32_t ZDB_CALL ZDB_Connection(int32_t mode) {
  return WithSession([&](Session& s) { return zdb::SetConnectionMode(s, mode); });
}

int32_t ZDB_CALL SetConnectionOptions(const char* chars) {
  return WithSession([&](Session& s) { return zdb::SetHeaderChars(s, chars); });
}

int32_t ZDB_CALL ZDB_GetHost(char* buffer) {
  return WithSession([&](Session& s) { return zdb::CopyHostName(s, buffer); });
}

int32_t ZDB_CALL Z_GetError(uint32_t code, char* text) {
  return WithSession([&](Session& s) { return zdb::GetErrorText(s, code, text); });
}

// On 32-bit Windows the plain name leads to Z_GetError's entry; this one serves the decorated
// name there and the plain name elsewhere.
int32_t ZDB_CALL ZDB_GetError(uint32_t code, char* text) {
  return Z_GetError(code, text);
}

int32_t ZDB_CALL ZDB_TCPError(char* buffer) {
  return WithSession([&](Session& s) { return zdb::FormatSocketError(s, buffer); });
}

}  // extern "C"
