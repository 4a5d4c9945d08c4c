#include "catalog/field_descriptor.h"

#include <cstring>

#include "wire/frame.h"

namespace zdb::catalog {

int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor) {
  if (s.PrepareRequest(wire::kPlain, 58, 3) != kOk) return s.lastResult;
  char star[1] = {'*'};
  s.SetSlot(0, static_cast<uint32_t>(std::strlen(fieldName) + 1), fieldName);
  if (second) {
    s.SetSlot(1, kDefaultValueSize, second);
  } else {
    s.SetSlot(1, 1, star);
  }
  s.SetSlot(2, kDescriptorSize, descriptor);
  s.Exchange();
  return s.lastResult;
}

}  // namespace zdb::catalog
