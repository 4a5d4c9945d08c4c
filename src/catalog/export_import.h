// Whole databases moved as files inside one exchange: an export streams the server's file to a
// local path, an import sends a local file and streams the server's answer file back. Their
// request layouts are their rows in the catalog member table.
#pragma once

#include <cstdint>

#include "session/session.h"

namespace zdb::catalog {

int32_t ExportDB(Session& s, const char* first, const char* second, const char* localPath);
int32_t ImportDB(Session& s, const char* first, const char* second, const char* sendPath,
                 const char* receivePath);

}  // namespace zdb::catalog
