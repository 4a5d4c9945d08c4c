#include "catalog/field_descriptor.h"

#include "catalog/catalog_members.h"

namespace zdb::catalog {

int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor) {
  return ExecuteRequest(s, kMember<MemberIndex("Z_GetField")>, {fieldName, second, descriptor});
}

}  // namespace zdb::catalog
