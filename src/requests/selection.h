// Database and table selection: requests whose acceptance by the server is mirrored in the
// Session's field-definition cache.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "requests/request_table.h"

namespace zdb::tables {

enum class Selection : uint8_t {
  kUseDB,
  kUnUseDB,
  kSelDB,
  kGetDB,
  kOpenTable,
  kCloseTable,
  kSelTable,
  kGetTable,
  kAlias,
};

// Sends the member's request and, once the server answered 1000, brings the cache in line.
// A name too long for its cache key is 2003 and nothing is sent.
int32_t RunSelection(Session& s, Selection member, std::initializer_list<ArgValue> args);

}  // namespace zdb::tables
