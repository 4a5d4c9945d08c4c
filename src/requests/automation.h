// The whole-record calls for callers that hold their values in a one-dimensional SAFEARRAY of
// BSTR. The BSTRs carry bytes, not wide characters.
#pragma once

#include <cstdint>

#include "zdb_api.h"

namespace zdb::fields {

int32_t AutomationGetRead(char* first, char* second, const char* fieldList, SAFEARRAY** array);
int32_t AutomationMatGetFields(const char* fieldList, SAFEARRAY** array);
int32_t AutomationMatPutFields(const char* fieldList, SAFEARRAY** array);
int32_t AutomationPutWrite(const char* fieldList, SAFEARRAY** array);

}  // namespace zdb::fields
