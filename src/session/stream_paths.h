// Local file names that a stream request hands to its exchange. The Session holds each in a
// fixed field, so a longer path is refused before anything is sent, never cut or overrun.
#pragma once

#include <cstring>

#include "session/session.h"

namespace zdb {

inline bool FitsFileName(const char* path) {
  return path != nullptr && std::strlen(path) < kFileNameSize;
}

// The caller has checked FitsFileName.
inline void CopyFileName(char (&field)[kFileNameSize], const char* path) {
  std::memcpy(field, path, std::strlen(path) + 1);
}

}  // namespace zdb
