// The field-descriptor request: the 132-byte descriptor of one field of the current
// table. Exported as Z_GetField and sent by the single-field and direct field calls when they
// must size a value that the field definitions did not deliver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/session.h"

namespace zdb::fields {

inline constexpr size_t kDescriptorSize = wire::kFieldDescriptorSize;
inline constexpr size_t kDefaultValueSize = wire::kValueTextSize;
inline constexpr size_t kDescriptorSubtype = 99;
inline constexpr size_t kDescriptorType = 100;
inline constexpr size_t kDescriptorCharWidth = 101;
inline constexpr size_t kDescriptorOtherWidth = 105;

// `fieldName` is sent with its zero and, like every slot of a full reply, overwritten by the
// reply: internal callers pass a private copy. Without `second` the slot carries the one byte
// "*". Returns the Session's lastResult.
int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor);

}  // namespace zdb::fields
