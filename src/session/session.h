// The client state of one calling thread: its host, its connection to the server (the
// Connection it is), its login and the field-definition cache. Every request of the library
// is an operation on a Session; a Session is used only by the thread that created it.
#pragma once

#include <cstdint>
#include <string>

#include "net/connection.h"
#include "net/request.h"
#include "session/field_cache.h"
#include "wire/result_codes.h"

namespace zdb {

class Session : public Connection {
 public:
  Session();
  virtual ~Session();

  // ---- requests (every request is PrepareRequest, then Exchange of the same request) ----
  // Logs in unless logged in already or the request is empty. Inline: it runs before every
  // request, and only the first of a connection logs in.
  int32_t PrepareRequest(const Request& request) {
    if (request.Empty() || LoggedIn()) return kOk;
    return Login("", "");
  }
  // Logs in unless already logged in; behind ZDB_Init and the implicit login. `extra`, when
  // given, carries further slots (2 up to its paramCount - 1), as the run login does.
  int32_t Login(const char* user, const char* password, const Request* extra = nullptr);

  // ---- the thread's own state; the connection's fields are Connection's ----
  std::string hostName;  // empty: not set
  FieldCache fieldCache;
  uint32_t threadId;
};

// Resets the field-definition cache as every successful login does.
int32_t ResetFieldCache(Session& s);

}  // namespace zdb
