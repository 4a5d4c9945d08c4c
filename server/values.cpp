#include "values.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "status.h"
#include "wire/le.h"

namespace zdbd {
namespace {

std::string FormatDouble(double d) {
  char buf[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

std::string Trim(const std::string& s) {
  const char* ws = " \t\n\v\f\r";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool ParseDouble(const std::string& text, double* out) {
  std::string t = Trim(text);
  if (t.empty()) {
    *out = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(t.c_str(), &end);
  // strtod reports ERANGE for subnormal results too; those are exact doubles and are kept. A
  // value that underflows to zero or overflows is refused rather than stored changed.
  const bool range_ok = errno == 0 || (errno == ERANGE && d != 0 && std::isfinite(d));
  if (!range_ok || end != t.c_str() + t.size() || !std::isfinite(d)) return false;
  *out = d;
  return true;
}

bool IsNumericText(const FieldInfo& f) {
  return f.type == 'C' && f.subtype == 'N';
}

double ReadDouble(const uint8_t* in) {
  uint64_t bits = zdb::wire::GetU64(in);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void WriteDouble(uint8_t* out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  zdb::wire::PutU64(out, bits);
}

double AsDouble(const Value& v) {
  switch (v.kind) {
    case Value::kInt:
      return static_cast<double>(v.i);
    case Value::kReal:
      return v.d;
    case Value::kText: {
      double d = 0;
      return ParseDouble(v.s, &d) ? d : 0;
    }
    default:
      return 0;
  }
}

}  // namespace

bool IsMemoLike(const FieldInfo& f) {
  return f.subtype == 'M' || f.subtype == 'B';
}

uint32_t EffectiveWidth(const FieldInfo& f) {
  return IsMemoLike(f) ? 255 : f.width;
}

bool NormaliseField(FieldInfo& f) {
  if (f.type != 'C' && f.type != 'N' && f.type != 'I') return false;
  if (f.subtype == 0) f.subtype = ' ';
  if (f.type == 'N' && f.width == 0) f.width = 20;
  if (f.type == 'I' && f.width == 0) f.width = 6;
  if (f.subtype == 'D') f.width = 10;
  if (f.type == 'C' && IsNumericText(f) && f.width == 0) f.width = 20;
  // Memo and binary values have no width of their own; record buffers count them as 255.
  if (f.type == 'C' && IsMemoLike(f) && f.width == 0) f.width = 255;
  return f.width >= 1 && f.width <= 4096;
}

const char* ColumnType(const FieldInfo& f) {
  if (f.type == 'N') return "REAL";
  if (f.type == 'I') return "INTEGER";
  if (f.subtype == 'B') return "BLOB";
  return "TEXT";
}

bool IsValidDate(const std::string& t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (t[i] < '0' || t[i] > '9') return false;
  int year = std::atoi(t.substr(0, 4).c_str());
  int month = std::atoi(t.substr(5, 2).c_str());
  int day = std::atoi(t.substr(8, 2).c_str());
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string ValueText(const FieldInfo& f, const Value& v) {
  switch (v.kind) {
    case Value::kNull:
      return {};
    case Value::kInt:
      return std::to_string(v.i);
    case Value::kReal:
      if (f.type == 'I') return std::to_string(static_cast<int64_t>(v.d));
      return FormatDouble(v.d);
    default:
      return v.s;
  }
}

void EncodeSingle(const FieldInfo& f, const Value& v, uint8_t* out, size_t size) {
  std::memset(out, 0, size);
  if (size == 8 && (f.type == 'N' || IsNumericText(f))) {
    WriteDouble(out, AsDouble(v));
    return;
  }
  if (size == 2 && f.type == 'I') {
    zdb::wire::PutU16(out, static_cast<uint16_t>(static_cast<int16_t>(AsDouble(v))));
    return;
  }
  std::string text = ValueText(f, v);
  size_t n = text.size() < size ? text.size() : size;
  std::memcpy(out, text.data(), n);
  if (IsMemoLike(f)) return;
  for (size_t i = n; i < size && i < f.width; ++i) out[i] = ' ';
}

int32_t ParseText(const FieldInfo& f, const std::string& text, Value* out) {
  if (f.type == 'N' || f.type == 'I' || IsNumericText(f)) {
    double d = 0;
    if (!ParseDouble(text, &d)) return kBadValue;
    if (f.type == 'I') {
      if (d != std::floor(d) || d < -32768 || d > 32767) return kBadValue;
      *out = Value::Int(static_cast<int64_t>(d));
    } else if (f.type == 'N') {
      *out = Value::Real(d);
    } else {
      std::string t = Trim(text);
      if (t.size() > f.width) return kBadValue;
      *out = Value::Text(t);
    }
    return kOk;
  }
  if (f.subtype == 'B') {
    *out = Value::Blob(text);
    return kOk;
  }
  std::string t = text;
  if (!IsMemoLike(f)) {
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (t.size() > f.width) return kBadValue;
  }
  if (f.subtype == 'D' && !t.empty() && !IsValidDate(t)) return kBadValue;
  *out = Value::Text(t);
  return kOk;
}

int32_t DecodeSingle(const FieldInfo& f, const uint8_t* in, size_t size, Value* out) {
  if (size == 8 && (f.type == 'N' || IsNumericText(f))) {
    double d = ReadDouble(in);
    if (!std::isfinite(d)) return kBadValue;
    *out = f.type == 'N' ? Value::Real(d) : Value::Text(FormatDouble(d));
    if (IsNumericText(f) && out->s.size() > f.width) return kBadValue;
    return kOk;
  }
  if (size == 2 && f.type == 'I') {
    *out = Value::Int(static_cast<int16_t>(zdb::wire::GetU16(in)));
    return kOk;
  }
  const char* p = reinterpret_cast<const char*>(in);
  if (f.subtype == 'B') {
    size_t n = size;
    while (n > 0 && in[n - 1] == 0) --n;
    *out = Value::Blob(std::string(p, n));
    return kOk;
  }
  // An empty value may come with no buffer at all.
  return ParseText(f, size == 0 ? std::string() : std::string(p, strnlen(p, size)), out);
}

}  // namespace zdbd
