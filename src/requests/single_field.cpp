#include "requests/single_field.h"

#include <cstring>
#include <new>
#include <vector>

#include "requests/field_lookup.h"
#include "requests/request_table.h"
#include "wire/field_def.h"
#include "wire/le.h"

namespace zdb::fields {

namespace {

// The size travels as a value slot whose reply lands in the executor's private copy, so a
// server answer never reaches the caller's size.
constexpr RequestSpec kGetFieldSpec{
    "ZDB_GetField", wire::Op("GetField"), {Text(0), Sized(1, 1, 2), Value(2)}};
constexpr RequestSpec kPutFieldSpec{
    "ZDB_PutField", wire::Op("PutField"), {Text(0), Sized(1, 1, 2), Value(2)}};
constexpr RequestSpec kTestFieldSpec{
    "ZDB_TestField", wire::Op("TestField"), {Text(0), Sized(1, 1, 2), Value(2)}};
constexpr RequestSpec kIsNullSpec{"ZDB_IsNull", wire::Op("IsNull"), {Text(0), Fixed(1, 2)}};
constexpr RequestSpec kCpyFieldSpec{
    "ZDB_CpyField", wire::Op("CpyField"), {Text(0), Text(1), Text(2), Text(3)}};
constexpr RequestSpec kCpyField2Spec{
    "ZDB_2CpyField", wire::Op("2CpyField"), {Text(0), Text(1), Text(2), Text(3), Text(4), Text(5)}};

// A full reply overwrites every slot, the sent field list included; lookups made on the
// caller's behalf therefore send a copy and leave the caller's name alone.
std::vector<char> WritableCopy(const char* text) {
  return std::vector<char>(text, text + std::strlen(text) + 1);
}

int32_t LettersFromDefinitions(Session& s, const char* name, FieldLetters* out) {
  std::unique_ptr<uint8_t[]> defs(new (std::nothrow) uint8_t[wire::kFieldDefListSize]());
  if (!defs) return kErrNoMemory;
  std::vector<char> list = WritableCopy(name);
  const int32_t r = LookupFieldDefs(s, list.data(), defs.get());
  if (r != kOk) return r;
  const wire::FieldDef d = wire::DecodeFieldDef(defs.get());
  *out = {d.type, d.subtype, d.width, d.width};
  return kOk;
}

int32_t LettersFromDescriptor(Session& s, const char* name, FieldLetters* out) {
  std::unique_ptr<uint8_t[]> desc(new (std::nothrow) uint8_t[kDescriptorSize]());
  if (!desc) return kErrNoMemory;
  std::vector<char> copy = WritableCopy(name);
  const int32_t r = RequestFieldDescriptor(s, copy.data(), nullptr, desc.get());
  if (r != kOk) return r;
  out->type = static_cast<char>(desc[kDescriptorType]);
  out->subtype = static_cast<char>(desc[kDescriptorSubtype]);
  out->charWidth = wire::GetU32(desc.get() + kDescriptorCharWidth);
  out->otherWidth = wire::GetU32(desc.get() + kDescriptorOtherWidth);
  return kOk;
}

bool IsNumber(const FieldLetters& f) {
  return f.type == 'N' || (f.type == 'C' && f.subtype == 'N');
}

}  // namespace

int32_t FindFieldLetters(Session& s, const char* name, FieldLetters* out) {
  if (!name) return kErrArgument;
  // A qualified name ("table.field") may name a table other than the cached one.
  if (!std::strchr(name, '.') && LettersFromDefinitions(s, name, out) == kOk) return kOk;
  return LettersFromDescriptor(s, name, out);
}

uint32_t ReadSizeFor(const FieldLetters& f) {
  if (IsNumber(f)) return 8;
  if (f.type == 'I') return 2;
  if (f.subtype == 'D') return 10;
  if (f.subtype == 'M' || f.subtype == 'B') return 256;
  return f.type == 'C' ? f.charWidth : f.otherWidth;
}

uint32_t FixedWriteSize(const FieldLetters& f) {
  if (IsNumber(f)) return 8;
  if (f.type == 'I') return 2;
  return 0;
}

bool RecordCanHold(uint32_t width) {
  constexpr uint64_t kFrameLimit = UINT32_MAX;
  return uint64_t{width} + 1 + wire::kFieldDefListSize + wire::kHeaderSize <= kFrameLimit;
}

int32_t ReadValueSize(Session& s, const char* name, uint32_t* size) {
  FieldLetters f;
  const int32_t r = FindFieldLetters(s, name, &f);
  if (r != kOk) return r;
  *size = ReadSizeFor(f);
  if (!RecordCanHold(*size)) {
    // A broken answer: nothing more is sent, the caller's buffer stays as it was.
    s.lastResult = kErrComm;
    return kErrComm;
  }
  return kOk;
}

int32_t WriteValueSize(Session& s, const char* name, const void* value, bool withZero,
                       uint32_t* size) {
  FieldLetters f;
  const int32_t r = FindFieldLetters(s, name, &f);
  if (r != kOk) return r;
  *size = FixedWriteSize(f);
  if (*size == 0) {
    *size =
        static_cast<uint32_t>(std::strlen(static_cast<const char*>(value)) + (withZero ? 1 : 0));
  }
  return kOk;
}

void LibraryValueBuffer::Replace(std::unique_ptr<uint8_t[]> bytes, uint32_t size) {
  std::unique_ptr<uint8_t[]> previous;
  {
    platform::MutexLock lock(mu_);
    previous = std::move(bytes_);
    bytes_ = std::move(bytes);
    size_ = size;
  }
}

size_t LibraryValueBuffer::CopyOut(uint8_t* out, size_t capacity) const {
  platform::MutexLock lock(mu_);
  const size_t n = size_ < capacity ? size_ : capacity;
  if (n > 0) std::memcpy(out, bytes_.get(), n);
  return n;
}

uint32_t LibraryValueBuffer::size() const {
  platform::MutexLock lock(mu_);
  return size_;
}

LibraryValueBuffer& GetFieldBuffer() {
  static LibraryValueBuffer buffer;
  return buffer;
}

int32_t ReadSizeInForce(Session& s, const char* name, uint32_t size, uint32_t* inForce,
                        std::unique_ptr<uint8_t[]>* own) {
  *inForce = size;
  if (size != kChooseSize && size != kLibraryBuffer) return kOk;
  const int32_t r = ReadValueSize(s, name, inForce);
  if (r != kOk || size == kChooseSize) return r;
  own->reset(new (std::nothrow) uint8_t[*inForce == 0 ? 1 : *inForce]());
  return *own ? kOk : kErrNoMemory;
}

int32_t GetField(Session& s, char* name, void* value, uint32_t size) {
  return ReceiveValue(s, name, value, size, GetFieldBuffer(), [&](void* target, uint32_t n) {
    return ExecuteRequest(s, kGetFieldSpec, {name, target, n});
  });
}

namespace {

int32_t SendValue(Session& s, const RequestSpec& spec, const char* name, const void* value,
                  uint32_t size) {
  if (!name || !value) return kErrArgument;
  uint32_t inForce = size;
  if (size == kChooseSize) {
    const int32_t r = WriteValueSize(s, name, value, true, &inForce);
    if (r != kOk) return r;
  }
  return ExecuteRequest(s, spec, {name, value, inForce});
}

}  // namespace

int32_t PutField(Session& s, const char* name, const void* value, uint32_t size) {
  return SendValue(s, kPutFieldSpec, name, value, size);
}

int32_t TestField(Session& s, const char* name, const void* value, uint32_t size) {
  return SendValue(s, kTestFieldSpec, name, value, size);
}

int32_t IsNull(Session& s, char* name, void* indicator) {
  if (!indicator) return kErrArgument;
  return ExecuteRequest(s, kIsNullSpec, {name, indicator});
}

int32_t CpyField(Session& s, const char* a, const char* b, const char* c, const char* d) {
  return ExecuteRequest(s, kCpyFieldSpec, {a, b, c, d});
}

int32_t CpyField2(Session& s, const char* a, const char* b, const char* c, const char* d,
                  const char* e, const char* f) {
  return ExecuteRequest(s, kCpyField2Spec, {a, b, c, d, e, f});
}

}  // namespace zdb::fields

namespace zdb::tables {

using fields::ReceiveValue;

namespace {

constexpr RequestSpec kFReadSpec{
    "ZDB_FRead", wire::Op("FRead"), {Text(0), Text(1), Sized(2, 1, 3), Value(3)}};
constexpr RequestSpec kFWriteSpec{
    "ZDB_FWrite", wire::Op("FWrite"), {Text(0), Text(1), Sized(2, 1, 3), Value(3)}};

}  // namespace

fields::LibraryValueBuffer& FReadBuffer() {
  static fields::LibraryValueBuffer buffer;
  return buffer;
}

int32_t FRead(Session& s, char* leading, char* name, void* value, uint32_t size) {
  if (!leading) return kErrArgument;
  return ReceiveValue(s, name, value, size, FReadBuffer(), [&](void* target, uint32_t n) {
    return ExecuteRequest(s, kFReadSpec, {leading, name, target, n});
  });
}

int32_t FWrite(Session& s, char* leading, char* name, void* value, uint32_t size) {
  if (!leading || !name || !value) return kErrArgument;
  uint32_t inForce = size;
  if (size == fields::kChooseSize) {
    // Unlike a single-field write, a text goes without its zero.
    const int32_t r = fields::WriteValueSize(s, name, value, false, &inForce);
    if (r != kOk) return r;
  }
  return ExecuteRequest(s, kFWriteSpec, {leading, name, value, inForce});
}

}  // namespace zdb::tables
