// The 161-byte header that opens every request and every full reply, and the flag bits of the
// request kind. Client, server and tools all encode and decode it here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zdb::wire {

inline constexpr size_t kHeaderSize = 161;
inline constexpr size_t kMaxSlots = 16;
inline constexpr char kMagic[9] = {'Z', 'D', 'B', 'S', 'e', 'r', 'v', 'e', 'r'};

// Byte offsets inside the header.
inline constexpr size_t kOffKind = 9;
inline constexpr size_t kOffFlags = 10;
inline constexpr size_t kOffOptions = 11;
inline constexpr size_t kOffChars = 13;
inline constexpr size_t kOffOpcode = 16;
inline constexpr size_t kOffParamCount = 20;
inline constexpr size_t kOffLengths = 21;
inline constexpr size_t kOffOffsets = 85;
inline constexpr size_t kOffTotal = 149;
inline constexpr size_t kOffSession = 153;
inline constexpr size_t kOffStatus = 157;

// kindFlags: request kind in the low byte, stream and reply flags in the high byte.
inline constexpr uint16_t kKindOrdinary = 0x0001;
inline constexpr uint16_t kKindScript = 0x0002;
inline constexpr uint16_t kFlagStatusOnly = 0x8000;
inline constexpr uint16_t kFlagSendFile = 0x4000;
inline constexpr uint16_t kFlagReceiveFile = 0x2000;
inline constexpr uint16_t kFlagReceiveRecords = 0x1000;

inline constexpr uint16_t kPlain = 0x0001;       // full reply
inline constexpr uint16_t kStatusOnly = 0x8001;  // changes only
inline constexpr uint16_t kExportKind = 0xA001;  // receive file
inline constexpr uint16_t kImportKind = 0xE001;  // send + receive
inline constexpr uint16_t kScriptKind = 0xD002;  // script run

inline constexpr uint32_t kNoSession = 0xFFFFFFFFu;
inline constexpr int32_t kStatusPreset = 2001;

struct FrameHeader {
  uint8_t kind = 0;
  uint8_t flags = 0;
  uint16_t connectionOptions = 0;
  std::array<uint8_t, 3> chars{};
  uint32_t opcode = 0;
  int8_t paramCount = 0;
  std::array<uint32_t, kMaxSlots> lengths{};
  std::array<uint32_t, kMaxSlots> offsets{};
  uint32_t total = 0;
  uint32_t sessionHandle = 0;
  int32_t status = 0;

  uint16_t kindFlags() const { return static_cast<uint16_t>(kind | (flags << 8)); }
};

// Writes all 161 bytes, magic included.
void EncodeHeader(const FrameHeader& h, uint8_t* out);

// Reads the 161 bytes back. Returns false when the magic does not match; the fields are filled
// either way so that a tracer can still show what arrived.
bool DecodeHeader(const uint8_t* in, FrameHeader& h);

// Fills lengths/offsets/total for `count` slots of the given lengths, the way a client lays out
// a request: offsets accumulate from the first slot, unused slots stay zero.
void LayoutSlots(FrameHeader& h, const uint32_t* lengths, int count);

// Checks the structural rules a receiver relies on before trusting a decoded header: a
// parameter count of 0..16, slot offsets that follow each other, and a total that adds up.
bool HeaderIsConsistent(const FrameHeader& h);

}  // namespace zdb::wire
