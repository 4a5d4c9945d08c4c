#include "fields/field_descriptor.h"

#include "session/request_table.h"

namespace zdb::fields {
namespace {

// Without a second buffer slot 1 is the one byte "*".
constexpr RequestSpec kGetFieldRow{
    "Z_GetField",
    wire::Op("GetField descriptor"),
    {Text(0), Wildcard(1, kDefaultValueSize), Fixed(2, kDescriptorSize)}};

}  // namespace

int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor) {
  return ExecuteRequest(s, kGetFieldRow, {fieldName, second, descriptor});
}

}  // namespace zdb::fields
