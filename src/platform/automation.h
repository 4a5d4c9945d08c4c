// Automation arrays as the library uses them: the system's own on Windows, the stand-in
// declared in the public header elsewhere. Only the type of an element index differs.
#pragma once

#include "zdb_api.h"

namespace zdb::platform {

#ifdef _WIN32
using ArrayIndex = LONG;
#else
using ArrayIndex = int32_t;
#endif

}  // namespace zdb::platform
