// Local file names that a stream request hands to its exchange. A name longer than kFileNameSize
// allows is refused before anything is sent, never cut or overrun.
#pragma once

#include <cstring>

#include "session/connection.h"

namespace zdb {

inline bool FitsFileName(const char* path) {
  return path != nullptr && std::strlen(path) < kFileNameSize;
}

// The caller has checked FitsFileName.
inline void CopyFileName(char (&field)[kFileNameSize], const char* path) {
  std::memcpy(field, path, std::strlen(path) + 1);
}

}  // namespace zdb
