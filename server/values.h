// Field definitions as zdbd keeps them, and how field values travel: the single-field forms
// (8-byte doubles, 2-byte integers, fixed-width text) and the text forms of whole records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zdbd {

struct FieldInfo {
  std::string name;
  char type = 'C';     // C text, N 8-byte double, I 2-byte integer
  char subtype = ' ';  // N numeric text, D date, M memo, B binary, anything else plain
  uint32_t width = 0;
  std::string description;
};

// A stored value as SQLite hands it over.
struct Value {
  enum Kind { kNull, kInt, kReal, kText, kBlob } kind = kNull;
  int64_t i = 0;
  double d = 0;
  std::string s;  // text and blob bytes

  static Value Null() { return {}; }
  static Value Int(int64_t v) { return {kInt, v, 0, {}}; }
  static Value Real(double v) { return {kReal, 0, v, {}}; }
  static Value Text(std::string v) { return {kText, 0, 0, std::move(v)}; }
  static Value Blob(std::string v) { return {kBlob, 0, 0, std::move(v)}; }
};

bool IsMemoLike(const FieldInfo& f);  // subtype M or B
// The width a value occupies in a record buffer: memo and binary fields count as 255.
uint32_t EffectiveWidth(const FieldInfo& f);
// Checks a definition and fills in the widths that its type fixes; false when it is unusable.
bool NormaliseField(FieldInfo& f);
// The SQLite column type that stores a field.
const char* ColumnType(const FieldInfo& f);

// YYYY-MM-DD naming a day of the calendar (leap years included).
bool IsValidDate(const std::string& text);

// A value as text: numbers in their shortest exact form, text as stored, null as empty.
std::string ValueText(const FieldInfo& f, const Value& v);

// The single-field reply form of exactly `size` bytes: doubles and 2-byte integers when the size
// is theirs, otherwise the text left-aligned and space-padded to the field's width, zeros beyond.
void EncodeSingle(const FieldInfo& f, const Value& v, uint8_t* out, size_t size);

// Reads a single-field value of `size` bytes into the stored form; kOk or kBadValue.
int32_t DecodeSingle(const FieldInfo& f, const uint8_t* in, size_t size, Value* out);

// Reads a value given as text (whole-record writes, seeks); kOk or kBadValue.
int32_t ParseText(const FieldInfo& f, const std::string& text, Value* out);

}  // namespace zdbd
