// UDP control datagrams: probe, stop and discovery requests and their replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "wire/le.h"

namespace zdb::wire {

inline constexpr uint16_t kCodeProbe = 48;
inline constexpr uint16_t kCodeStop = 32;
inline constexpr uint16_t kCodeDiscover = 16;

inline constexpr size_t kControlSize = 6;
inline constexpr size_t kMaxReplySize = 1030;
inline constexpr size_t kDiscoveryReplySize = 158;
inline constexpr size_t kDiscoveryTextOffset = 38;
inline constexpr size_t kDiscoveryTextEnd = 152;  // the text ends here at the latest
inline constexpr size_t kDiscoveryNumbersOffset = 152;

inline void EncodeControl(uint16_t code, uint8_t* out) {
  std::memset(out, 0, kControlSize);
  PutU16(out, code);
}

inline uint16_t DecodeControlCode(const uint8_t* in, size_t n) {
  return n >= 2 ? GetU16(in) : 0;
}

struct DiscoveryInfo {
  std::string text;
  uint16_t numbers[3] = {0, 0, 0};
};

// Builds a discovery reply of kDiscoveryReplySize bytes; the text is cut to fit before byte 152.
inline void EncodeDiscoveryReply(const DiscoveryInfo& info, uint8_t* out) {
  std::memset(out, 0, kDiscoveryReplySize);
  PutU16(out, kCodeDiscover);
  size_t n = info.text.size();
  const size_t room = kDiscoveryTextEnd - kDiscoveryTextOffset - 1;
  if (n > room) n = room;
  std::memcpy(out + kDiscoveryTextOffset, info.text.data(), n);
  for (int i = 0; i < 3; ++i) PutU16(out + kDiscoveryNumbersOffset + 2 * i, info.numbers[i]);
}

// Reads a discovery reply; false when it is too short to carry every field.
inline bool DecodeDiscoveryReply(const uint8_t* in, size_t n, DiscoveryInfo& info) {
  if (n < kDiscoveryReplySize) return false;
  const char* text = reinterpret_cast<const char*>(in + kDiscoveryTextOffset);
  info.text.assign(text, strnlen(text, kDiscoveryTextEnd - kDiscoveryTextOffset));
  for (int i = 0; i < 3; ++i) info.numbers[i] = GetU16(in + kDiscoveryNumbersOffset + 2 * i);
  return true;
}

}  // namespace zdb::wire
