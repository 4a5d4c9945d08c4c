// Whole databases moved as files inside one exchange: an export streams the server's file to a
// local path, an import sends a local file and streams the server's answer file back.
#pragma once

#include <cstdint>

#include "session/session.h"

namespace zdb {

int32_t ExportDatabase(Session& s, const char* first, const char* second, const char* localPath);
int32_t ImportDatabase(Session& s, const char* first, const char* second, const char* sendPath,
                       const char* receivePath);

}  // namespace zdb
