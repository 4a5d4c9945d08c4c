// Conversion of texts to and from the server character set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zdb {

extern const uint8_t kToServer[256];
extern const uint8_t kFromServer[256];

// A converted copy of `length` bytes of text (callers pass the text length + 1 so that the
// terminating zero travels along). Running out of memory throws std::bad_alloc, which the
// exported entry points turn into 2004, rather than sending the text unconverted.
std::string ToServerCharset(const char* text, size_t length);

// A text converted with its terminating zero, as names and credentials are sent.
inline std::string ToServerText(const char* text) {
  return ToServerCharset(text, std::strlen(text) + 1);
}

// Converts `length` bytes in place; a length of 0 or less changes nothing.
void FromServerCharset(uint8_t* buffer, int32_t length);

}  // namespace zdb
