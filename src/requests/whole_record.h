// Whole-record values: the values of a list of fields travel in one request as texts, laid out in
// a ValueArea whose slots follow the fields' definitions, which travel with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "session/session.h"

namespace zdb::fields {

// The fields a definitions buffer delivers: records up to the first one with an empty name, at
// most 300.
size_t CountFields(const uint8_t* defs);
// A field's width in a record buffer: memo and binary fields count as 255.
uint32_t EffectiveWidth(const uint8_t* def);
// Writes the effective widths into the first n records, so the server receives them.
void ApplyEffectiveWidths(uint8_t* defs, size_t n);
// Trims leading and trailing white space in place (numeric texts arrive padded).
void TrimWhiteSpace(char* text);

// One slot of (effective width + 1) bytes per field, in definition order, zero-filled.
class ValueArea {
 public:
  // Sizes the area for the first n records of `defs` (effective widths already applied);
  // 2004 when it cannot be had or would not fit a request.
  int32_t Allocate(const uint8_t* defs, size_t n);
  // Lays out the values; a null value is an empty text, a value longer than its field's width
  // is cut to that width.
  void Put(const uint8_t* defs, size_t n, const char* const* values);
  // Copies each slot's text into values[i] (i < n), walking the definitions as the reply left
  // them; no copy exceeds the room values[i] was given (capacity[i] bytes with its zero), nor
  // reads past the area. Subtype 'N' values are trimmed.
  void Unpack(const uint8_t* defs, size_t n, char** values,
              const std::vector<uint32_t>& capacity) const;

  uint8_t* data() { return bytes_.get(); }
  uint32_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  uint32_t size_ = 0;
};

// Value arrays hold texts from malloc: they are the caller's to free once handed out.
int32_t GetRead(Session& s, char* first, char* second, const char* fieldList, char** values);
int32_t MatGetFields(Session& s, const char* fieldList, char** values);
int32_t PutWrite(Session& s, const char* fieldList, const char* const* values);
int32_t MatPutFields(Session& s, const char* fieldList, const char* const* values);

}  // namespace zdb::fields
