// Host selection, login and session control: the operations behind ZDB_SelHost, ZDB_Init,
// ZDB_GetVersion, ZDB_Finish, ZDB_Connection, SetConnectionOptions, ZDB_GetHost, ZDB_GetError
// and ZDB_TCPError. Null pointers where a text or buffer is required give 2003 and send
// nothing.
#pragma once

#include <cstdint>

#include "session/session.h"

namespace zdb {

inline constexpr size_t kHostTextMax = 256;
inline constexpr uint32_t kErrorTextSize = 129;

// Builds a Session for the host and registers it for the calling thread when the server
// answers the probe; an earlier Session of the thread is replaced only then.
int32_t SelectHost(const char* host);

int32_t InitSession(Session& s, const char* user, const char* password);
int32_t GetServerVersion(Session& s, uint32_t* version);
int32_t FinishSession(Session& s);
int32_t SetConnectionMode(Session& s, int32_t mode);
int32_t SetHeaderChars(Session& s, const char* chars);
int32_t CopyHostName(Session& s, char* buffer);
int32_t GetErrorText(Session& s, uint32_t code, char* text);
// Writes "(n) WinSock Error !" and returns n, the last socket error number.
int32_t FormatSocketError(Session& s, char* buffer);

}  // namespace zdb
