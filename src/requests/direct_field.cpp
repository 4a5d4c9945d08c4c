#include "requests/direct_field.h"

#include "requests/request_table.h"

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
