// Exported entry points of the probe, discovery and stop.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "api/guard.h"
#include "net/udp.h"
#include "platform/automation.h"
using zdb::Session;
using zdb::api::Guarded;
using zdb::api::WithSession;

namespace {

// Discovery with the thread's Session, or a temporary one that lives for the call.
int32_t DiscoverWithAnySession(char** list, int32_t max, int32_t port) {
  if (Session* s = zdb::FindSessionForThread()) return zdb::DiscoverServers(*s, list, max, port);
  std::unique_ptr<Session> temporary;
  try {
    temporary = std::make_unique<Session>();
  } catch (...) {
    return zdb::kErrComm;
  }
  return zdb::DiscoverServers(*temporary, list, max, port);
}

// The texts of one discovery, freed with the list.
struct TextList {
  explicit TextList(int32_t n) : texts(static_cast<size_t>(n), nullptr) {}
  ~TextList() {
    for (char* t : texts) std::free(t);
  }
  std::vector<char*> texts;
};

// Puts entry i of the discovery into element i of the caller's array.
bool StoreEntry(SAFEARRAY* array, int32_t i, const char* text) {
  if (!text) return false;
  zdb::platform::ArrayIndex index = i;
  BSTR old = nullptr;
  if (SafeArrayGetElement(array, &index, &old) != 0) return false;
  SysFreeString(old);
  BSTR value = SysAllocStringByteLen(text, static_cast<uint32_t>(std::strlen(text)));
  if (!value) return false;
  const bool stored = SafeArrayPutElement(array, &index, value) == 0;
  SysFreeString(value);  // the array keeps its own copy
  return stored;
}

int32_t GetServersAsArray(SAFEARRAY** list, int32_t max, int32_t port) {
  if (!list) return zdb::kErrArgument;
  std::unique_ptr<TextList> found;
  try {
    found = std::make_unique<TextList>(max < 0 ? 0 : max);
  } catch (const std::bad_alloc&) {
    return zdb::kErrNoMemory;
  }
  const int32_t n = DiscoverWithAnySession(found->texts.data(), max, port);
  if (n < 1 || n > max) return n;  // nothing found, or an error code rather than a count
  if (*list && SafeArrayGetDim(*list) != 1) return zdb::kErrArgument;
  if (!*list) {
    SAFEARRAYBOUND bound{static_cast<uint32_t>(n), 0};
    *list = SafeArrayCreate(VT_BSTR, 1, &bound);
    if (!*list) return zdb::kErrComm;
  }
  for (int32_t i = 0; i < n; ++i)
    if (!StoreEntry(*list, i, found->texts[static_cast<size_t>(i)])) return zdb::kErrComm;
  return n;
}

}  // namespace

extern "C" {

int32_t ZDB_CALL ZDB_IsActive(const char* host) {
  return WithSession([&](Session& s) { return zdb::ProbeServer(s, host); });
}

int32_t ZDB_CALL ZDB_Stop(const char* host) {
  return WithSession([&](Session& s) { return zdb::StopServer(s, host); });
}

int32_t ZDB_CALL ZDB_GetServers(char** list, int32_t max, int32_t port) {
  if (!list && max > 0) return zdb::kErrArgument;
  return Guarded([&] { return DiscoverWithAnySession(list, max, port); });
}

int32_t ZDB_CALL DB_GetServers(SAFEARRAY** list, int32_t max, int32_t port) {
  return Guarded([&] { return GetServersAsArray(list, max, port); });
}

}  // extern "C"
