// Entry points of the field value calls: single fields, whole records, direct field access and
// their Automation forms.
#include "api/guard.h"
#include "requests/automation.h"
#include "requests/single_field.h"
#include "requests/whole_record.h"
#include "zdb_api.h"

using zdb::Session;
using zdb::api::Guarded;
using zdb::api::WithSession;

extern "C" {

int32_t ZDB_CALL ZDB_GetField(char* name, void* value, uint32_t size) {
  return WithSession([&](Session& s) { return zdb::fields::GetField(s, name, value, size); });
}

int32_t ZDB_CALL ZDB_PutField(const char* name, const void* value, uint32_t size) {
  return WithSession([&](Session& s) { return zdb::fields::PutField(s, name, value, size); });
}

int32_t ZDB_CALL ZDB_TestField(const char* name, const void* value, uint32_t size) {
  return WithSession([&](Session& s) { return zdb::fields::TestField(s, name, value, size); });
}

int32_t ZDB_CALL ZDB_IsNull(char* name, void* indicator) {
  return WithSession([&](Session& s) { return zdb::fields::IsNull(s, name, indicator); });
}

int32_t ZDB_CALL ZDB_CpyField(const char* a, const char* b, const char* c, const char* d) {
  return WithSession([&](Session& s) { return zdb::fields::CpyField(s, a, b, c, d); });
}

int32_t ZDB_CALL ZDB_2CpyField(const char* a, const char* b, const char* c, const char* d,
                               const char* e, const char* f) {
  return WithSession([&](Session& s) { return zdb::fields::CpyField2(s, a, b, c, d, e, f); });
}

int32_t ZDB_CALL ZDB_GetRead(char* first, char* second, const char* fieldList, char** values) {
  return WithSession(
      [&](Session& s) { return zdb::fields::GetRead(s, first, second, fieldList, values); });
}

int32_t ZDB_CALL ZDB_MatGetFields(const char* fieldList, char** values) {
  return WithSession([&](Session& s) { return zdb::fields::MatGetFields(s, fieldList, values); });
}

int32_t ZDB_CALL ZDB_PutWrite(const char* fieldList, char** values) {
  return WithSession([&](Session& s) { return zdb::fields::PutWrite(s, fieldList, values); });
}

int32_t ZDB_CALL ZDB_MatPutFields(const char* fieldList, char** values) {
  return WithSession([&](Session& s) { return zdb::fields::MatPutFields(s, fieldList, values); });
}

int32_t ZDB_CALL ZDB_FRead(char* leading, char* name, void* value, uint32_t size) {
  return WithSession([&](Session& s) { return zdb::tables::FRead(s, leading, name, value, size); });
}

int32_t ZDB_CALL ZDB_FWrite(char* leading, char* name, void* value, uint32_t size) {
  return WithSession(
      [&](Session& s) { return zdb::tables::FWrite(s, leading, name, value, size); });
}

// The Automation forms convert their arrays first, and only then find the Session.
int32_t ZDB_CALL DB_GetRead(char* first, char* second, const char* fieldList, SAFEARRAY** array) {
  return Guarded([&] { return zdb::fields::AutomationGetRead(first, second, fieldList, array); });
}

int32_t ZDB_CALL DB_MatGetFields(const char* fieldList, SAFEARRAY** array) {
  return Guarded([&] { return zdb::fields::AutomationMatGetFields(fieldList, array); });
}

int32_t ZDB_CALL DB_MatPutFields(const char* fieldList, SAFEARRAY** array) {
  return Guarded([&] { return zdb::fields::AutomationMatPutFields(fieldList, array); });
}

int32_t ZDB_CALL DB_PutWrite(const char* fieldList, SAFEARRAY** array) {
  return Guarded([&] { return zdb::fields::AutomationPutWrite(fieldList, array); });
}

}  // extern "C"
