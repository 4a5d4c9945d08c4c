// FieldDef: the 43-byte record defining one field, identical on the wire and in the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "wire/le.h"
#include "wire/record_sizes.h"

namespace zdb::wire {

struct FieldDef {
  std::string name;  // without padding
  char type = 0;
  char subtype = 0;
  uint32_t width = 0;
  uint8_t further[4] = {0, 0, 0, 0};
};

// Formats a name as its key: left-aligned, space-padded to `width` characters, never cut, so a
// longer name does not fit and is refused.
inline bool MakeKey(const char* name, size_t width, char* out, size_t outSize) {
  int n = std::snprintf(out, outSize, "%-*s", static_cast<int>(width), name);
  return n >= 0 && static_cast<size_t>(n) < outSize;
}

inline void EncodeFieldDef(const FieldDef& d, uint8_t* out) {
  std::memset(out, 0, kFieldDefSize);
  char key[kNameKeySize + 1];
  std::snprintf(key, sizeof key, "%-32.32s", d.name.c_str());
  std::memcpy(out, key, 32);
  out[33] = static_cast<uint8_t>(d.type);
  out[34] = static_cast<uint8_t>(d.subtype);
  PutU32(out + 35, d.width);
  std::memcpy(out + 39, d.further, 4);
}

inline FieldDef DecodeFieldDef(const uint8_t* in) {
  FieldDef d;
  const char* name = reinterpret_cast<const char*>(in);
  size_t n = strnlen(name, 32);
  while (n > 0 && name[n - 1] == ' ') --n;
  d.name.assign(name, n);
  d.type = static_cast<char>(in[33]);
  d.subtype = static_cast<char>(in[34]);
  d.width = GetU32(in + 35);
  std::memcpy(d.further, in + 39, 4);
  return d;
}

}  // namespace zdb::wire
