#include "requests/whole_record.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "requests/field_lookup.h"
#include "requests/request_table.h"
#include "wire/field_def.h"
#include "wire/le.h"

namespace zdb::fields {

namespace {

constexpr size_t kSubtypeAt = 34;
constexpr size_t kWidthAt = 35;
constexpr uint32_t kLongValueWidth = 255;
constexpr uint32_t kDefs = static_cast<uint32_t>(wire::kFieldDefListSize);
// The largest ValueArea a request can carry next to the definitions and two texts.
constexpr uint64_t kMaxAreaSize = 0x7FFFFFFFu - wire::kFieldDefListSize - 0x10000u;

// The field list never travels in these requests; the server learns the fields from the
// definitions. The definitions and the ValueArea always do.
constexpr RequestSpec kGetReadSpec{
    "ZDB_GetRead", wire::Op("GetRead"), {Text(0), Text(1), Fixed(2, kDefs), Sized(3, 1, 4)}};
constexpr RequestSpec kMatGetFieldsSpec{
    "ZDB_MatGetFields", wire::Op("MatGetFields"), {Fixed(0, kDefs), Sized(1, 1, 2)}};
constexpr RequestSpec kPutWriteSpec{
    "ZDB_PutWrite", wire::Op("PutWrite"), {Fixed(0, kDefs), Sized(1, 1, 2)}};
constexpr RequestSpec kMatPutFieldsSpec{
    "ZDB_MatPutFields", wire::Op("MatPutFields"), {Fixed(0, kDefs), Sized(1, 1, 2)}};

const uint8_t* Record(const uint8_t* defs, size_t i) {
  return defs + i * wire::kFieldDefSize;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

using DefsBuffer = std::unique_ptr<uint8_t[]>;

// The definitions of the listed fields, effective widths applied; n receives their number.
int32_t LookUp(Session& s, const char* fieldList, uint8_t firstByte, DefsBuffer* defs, size_t* n) {
  defs->reset(new (std::nothrow) uint8_t[wire::kFieldDefListSize]());
  if (!*defs) return kErrNoMemory;
  (*defs)[0] = firstByte;
  // A lookup answered by the server sends the list and receives it back: never the caller's.
  std::vector<char> list(fieldList, fieldList + std::strlen(fieldList) + 1);
  const int32_t r = LookupFieldDefs(s, list.data(), defs->get());
  if (r != kOk) return r;
  *n = CountFields(defs->get());
  ApplyEffectiveWidths(defs->get(), *n);
  return kOk;
}

// Releases what the caller's elements held and hands out zero-filled buffers sized for them.
int32_t ReplaceValueBuffers(const uint8_t* defs, size_t n, char** values,
                            std::vector<uint32_t>* capacity) {
  capacity->resize(n);
  for (size_t i = 0; i < n; ++i) {
    std::free(values[i]);
    const uint32_t width = wire::GetU32(Record(defs, i) + kWidthAt);
    (*capacity)[i] = width;
    values[i] = static_cast<char*>(std::calloc(static_cast<size_t>(width) + 1, 1));
    if (!values[i]) return kErrNoMemory;
  }
  return kOk;
}

template <class Send>
int32_t ReadRecord(Session& s, const char* fieldList, char** values, Send&& send) {
  if (!fieldList || !values) return kErrArgument;
  DefsBuffer defs;
  size_t n = 0;
  int32_t r = LookUp(s, fieldList, 0, &defs, &n);
  if (r != kOk) return r;
  ValueArea area;
  // Sized before any element is touched, so that a refused size leaves the caller's array alone.
  if (area.Allocate(defs.get(), n) != kOk) return kErrNoMemory;
  std::vector<uint32_t> capacity;
  if (ReplaceValueBuffers(defs.get(), n, values, &capacity) != kOk) return kErrNoMemory;
  const int32_t result = send(defs.get(), area);
  area.Unpack(defs.get(), n, values, capacity);
  return result;
}

int32_t WriteRecord(Session& s, const RequestSpec& spec, const char* fieldList,
                    const char* const* values) {
  if (!fieldList || !values) return kErrArgument;
  DefsBuffer defs;
  size_t n = 0;
  int32_t r = LookUp(s, fieldList, '#', &defs, &n);
  if (r != kOk) return r;
  ValueArea area;
  if (area.Allocate(defs.get(), n) != kOk) return kErrNoMemory;
  area.Put(defs.get(), n, values);
  return ExecuteRequest(s, spec, {defs.get(), area.data(), area.size()});
}

}  // namespace

size_t CountFields(const uint8_t* defs) {
  size_t n = 0;
  while (n < wire::kMaxFields && Record(defs, n)[0] != 0) ++n;
  return n;
}

uint32_t EffectiveWidth(const uint8_t* def) {
  const char subtype = static_cast<char>(def[kSubtypeAt]);
  if (subtype == 'M' || subtype == 'B') return kLongValueWidth;
  return wire::GetU32(def + kWidthAt);
}

void ApplyEffectiveWidths(uint8_t* defs, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t* def = defs + i * wire::kFieldDefSize;
    wire::PutU32(def + kWidthAt, EffectiveWidth(def));
  }
}

void TrimWhiteSpace(char* text) {
  size_t begin = 0;
  size_t end = std::strlen(text);
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  std::memmove(text, text + begin, end - begin);
  text[end - begin] = 0;
}

int32_t ValueArea::Allocate(const uint8_t* defs, size_t n) {
  uint64_t total = 0;
  for (size_t i = 0; i < n; ++i) total += uint64_t{wire::GetU32(Record(defs, i) + kWidthAt)} + 1;
  if (total > kMaxAreaSize) return kErrNoMemory;
  bytes_.reset(new (std::nothrow) uint8_t[total == 0 ? 1 : total]());
  if (!bytes_) return kErrNoMemory;
  size_ = static_cast<uint32_t>(total);
  return kOk;
}

void ValueArea::Put(const uint8_t* defs, size_t n, const char* const* values) {
  size_t offset = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t width = wire::GetU32(Record(defs, i) + kWidthAt);
    if (values[i]) std::memcpy(bytes_.get() + offset, values[i], strnlen(values[i], width));
    offset += size_t{width} + 1;
  }
}

void ValueArea::Unpack(const uint8_t* defs, size_t n, char** values,
                       const std::vector<uint32_t>& capacity) const {
  // The reply may have changed the definitions: its widths place the texts, but neither the
  // area's end nor the room of each value buffer is ever crossed.
  uint64_t offset = 0;
  for (size_t i = 0; i < n && Record(defs, i)[0] != 0; ++i) {
    const uint8_t* def = Record(defs, i);
    if (offset < size_) {
      const char* text = reinterpret_cast<const char*>(bytes_.get() + offset);
      size_t length = strnlen(text, size_ - offset);
      if (length > capacity[i]) length = capacity[i];
      std::memcpy(values[i], text, length);
      values[i][length] = 0;
      if (def[kSubtypeAt] == 'N') TrimWhiteSpace(values[i]);
    }
    offset += uint64_t{wire::GetU32(def + kWidthAt)} + 1;
  }
}

int32_t GetRead(Session& s, char* first, char* second, const char* fieldList, char** values) {
  if (!first || !second) return kErrArgument;
  return ReadRecord(s, fieldList, values, [&](uint8_t* defs, ValueArea& area) {
    return ExecuteRequest(s, kGetReadSpec, {first, second, defs, area.data(), area.size()});
  });
}

int32_t MatGetFields(Session& s, const char* fieldList, char** values) {
  return ReadRecord(s, fieldList, values, [&](uint8_t* defs, ValueArea& area) {
    return ExecuteRequest(s, kMatGetFieldsSpec, {defs, area.data(), area.size()});
  });
}

int32_t PutWrite(Session& s, const char* fieldList, const char* const* values) {
  return WriteRecord(s, kPutWriteSpec, fieldList, values);
}

int32_t MatPutFields(Session& s, const char* fieldList, const char* const* values) {
  return WriteRecord(s, kMatPutFieldsSpec, fieldList, values);
}

}  // namespace zdb::fields
