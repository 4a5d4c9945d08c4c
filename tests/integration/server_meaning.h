// Helpers of the tests that give every request zdbd's meaning: the fixed-width records of the
// catalog families and the error texts.
#pragma once

#include <cstring>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

namespace zdb::test {

using ServerMeaning = ServerFixture;

// The 364-byte constraint record: field 0-32, number 33-34, kind 35, values at 36 and 164 (128
// bytes each), description at 292.
inline Bytes Constraint(const std::string& field, uint16_t number, char kind,
                        const std::string& v1 = "", const std::string& v2 = "",
                        const std::string& text = "") {
  Bytes r(364);
  std::memcpy(r.data(), field.data(), field.size());
  wire::PutU16(r.data() + 33, number);
  r[35] = static_cast<uint8_t>(kind);
  std::memcpy(r.data() + 36, v1.data(), v1.size());
  std::memcpy(r.data() + 164, v2.data(), v2.size());
  std::memcpy(r.data() + 292, text.data(), text.size());
  return r;
}

inline std::string TextAt(const Bytes& b, size_t off) {
  return std::string(reinterpret_cast<const char*>(b.data() + off));
}

inline std::string ErrorText(RawSession& s, int32_t code) {
  RawReply e =
      s.Full(zdb::wire::Opcode("GetError"), {U32Slot(static_cast<uint32_t>(code)), Bytes(129)});
  return e.ok ? TextAt(e.slots[1], 0) : std::string();
}

}  // namespace zdb::test
