#include "fields/field_cache.h"

#include "session/session.h"

namespace zdb {

int32_t ResetFieldCache(Session& s) {
  s.fieldCache.selectedDatabase = -1;
  s.fieldCache.databases[0].Clear();
  return kOk;
}

}  // namespace zdb
