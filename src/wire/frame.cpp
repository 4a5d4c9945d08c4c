#include "wire/frame.h"

#include <cstring>

#include "wire/le.h"

namespace zdb::wire {

void EncodeHeader(const FrameHeader& h, uint8_t* out) {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out, kMagic, sizeof kMagic);
  out[kOffKind] = h.kind;
  out[kOffFlags] = h.flags;
  PutU16(out + kOffOptions, h.connectionOptions);
  std::memcpy(out + kOffChars, h.chars.data(), 3);
  PutU32(out + kOffOpcode, h.opcode);
  out[kOffParamCount] = static_cast<uint8_t>(h.paramCount);
  for (size_t i = 0; i < kMaxSlots; ++i) {
    PutU32(out + kOffLengths + 4 * i, h.lengths[i]);
    PutU32(out + kOffOffsets + 4 * i, h.offsets[i]);
  }
  PutU32(out + kOffTotal, h.total);
  PutU32(out + kOffSession, h.sessionHandle);
  PutI32(out + kOffStatus, h.status);
}

bool DecodeHeader(const uint8_t* in, FrameHeader& h) {
  h.kind = in[kOffKind];
  h.flags = in[kOffFlags];
  h.connectionOptions = GetU16(in + kOffOptions);
  std::memcpy(h.chars.data(), in + kOffChars, 3);
  h.opcode = GetU32(in + kOffOpcode);
  h.paramCount = static_cast<int8_t>(in[kOffParamCount]);
  for (size_t i = 0; i < kMaxSlots; ++i) {
    h.lengths[i] = GetU32(in + kOffLengths + 4 * i);
    h.offsets[i] = GetU32(in + kOffOffsets + 4 * i);
  }
  h.total = GetU32(in + kOffTotal);
  h.sessionHandle = GetU32(in + kOffSession);
  h.status = GetI32(in + kOffStatus);
  return std::memcmp(in, kMagic, sizeof kMagic) == 0;
}

void LayoutSlots(FrameHeader& h, const uint32_t* lengths, int count) {
  h.lengths.fill(0);
  h.offsets.fill(0);
  uint32_t offset = 0;
  for (int i = 0; i < count && i < static_cast<int>(kMaxSlots); ++i) {
    h.lengths[i] = lengths[i];
    h.offsets[i] = offset;
    offset += lengths[i];
  }
  h.paramCount = static_cast<int8_t>(count);
  h.total = static_cast<uint32_t>(kHeaderSize) + offset;
}

bool HeaderIsConsistent(const FrameHeader& h) {
  if (h.paramCount < 0 || h.paramCount > static_cast<int8_t>(kMaxSlots)) return false;
  uint64_t offset = 0;
  for (int i = 0; i < h.paramCount; ++i) {
    if (h.offsets[i] != offset) return false;
    offset += h.lengths[i];
  }
  return offset + kHeaderSize == h.total;
}

}  // namespace zdb::wire
