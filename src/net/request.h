// One request as the exchange sends it: the kind with its flags, the opcode, the parameter
// count, the slots and the local files its streams read and write. A request is a value built
// by its caller; the Session keeps nothing of it but the header it encoded last.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "wire/catalogue.h"
#include "wire/frame.h"

namespace zdb {

struct Request {
  Request() = default;
  Request(uint16_t kind, uint32_t op, int8_t count)
      : kindFlags(kind), opcode(op), paramCount(count) {}
  Request(const wire::Operation& op, int8_t count)
      : kindFlags(op.kindFlags), opcode(op.opcode), paramCount(count) {}

  void SetSlot(int i, uint32_t length, void* buffer) {
    slotLength[static_cast<size_t>(i)] = length;
    slotBuffer[static_cast<size_t>(i)] = buffer;
  }
  // Nothing to send: kind, opcode and count are all zero.
  bool Empty() const { return kindFlags == 0 && opcode == 0 && paramCount == 0; }

  uint16_t kindFlags = 0;
  uint32_t opcode = 0;
  int8_t paramCount = 0;
  // Only the first paramCount slots are read; the others are never initialised, which spares
  // every request clearing sixteen of them.
  std::array<uint32_t, wire::kMaxSlots> slotLength;
  std::array<void*, wire::kMaxSlots> slotBuffer;
  // The local files of the streams, read only when kindFlags asks for a stream: whoever builds
  // a stream request sets them, and every other request spares the stores.
  const char* uploadPath;    // sent after the frame
  const char* downloadPath;  // written from the file or record stream of the reply
};

// Local file names that a stream request hands to its exchange. A name longer than kFileNameSize
// allows is refused before anything is sent, never cut or overrun.
inline constexpr size_t kFileNameSize = 256;

inline bool FitsFileName(const char* path) {
  return path != nullptr && std::strlen(path) < kFileNameSize;
}

// The caller has checked FitsFileName.
inline void CopyFileName(char (&field)[kFileNameSize], const char* path) {
  std::memcpy(field, path, std::strlen(path) + 1);
}

}  // namespace zdb
