// Z_GetField shares its request with the single-field calls that must size a value.
#include "catalog/catalog_ops.h"
#include "fields/field_descriptor.h"

namespace zdb::catalog {

int32_t GetField(Session& s, char* fieldName, char* defaultValue, void* descriptor) {
  if (!fieldName) return kErrArgument;
  return fields::RequestFieldDescriptor(s, fieldName, reinterpret_cast<uint8_t*>(defaultValue),
                                        static_cast<uint8_t*>(descriptor));
}

}  // namespace zdb::catalog
