// How zdbd writes a value into a script row and how zdb reads it back: a text escapes the bytes
// that would break a row apart (backslash, tab, newline, carriage return, zero) with a
// backslash; blob bytes go as lowercase hex.
#pragma once

#include <string>

namespace zdb::wire {

inline void AppendRowEscaped(const std::string& text, std::string& out) {
  for (char ch : text) {
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += ch;
    }
  }
}

inline void AppendRowHex(const std::string& bytes, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

}  // namespace zdb::wire
