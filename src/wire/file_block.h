// The 64-byte header in front of a file moved inside an exchange, in either direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "wire/le.h"

namespace zdb::wire {

inline constexpr size_t kFileBlockHeaderSize = 64;
inline constexpr size_t kFileBlockSize = 16384;
inline constexpr size_t kRecordPieceSize = 3072;
inline constexpr uint8_t kFileBlockMarker = 0x10;
inline constexpr uint8_t kEndMark[2] = {0x03, 0x04};

inline void EncodeFileBlockHeader(int32_t length, uint8_t* out) {
  std::memset(out, 0, kFileBlockHeaderSize);
  out[16] = kFileBlockMarker;
  PutI32(out + 24, length);
}

inline int32_t DecodeFileBlockLength(const uint8_t* in) {
  return GetI32(in + 24);
}

}  // namespace zdb::wire
