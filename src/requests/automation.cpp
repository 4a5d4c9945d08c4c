#include "requests/automation.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "requests/whole_record.h"
#include "session/registry.h"
#include "session/session.h"

namespace zdb::fields {

namespace {

// As many values as a field list can deliver.
constexpr uint32_t kMaxValues = 300;

#ifdef _WIN32
using ArrayIndex = LONG;
#else
using ArrayIndex = int32_t;
#endif

bool Failed(HRESULT h) {
  return h < 0;
}

// The temporary array of text references handed to the ZDB_ calls; owns what it holds.
class TextArray {
 public:
  explicit TextArray(size_t n) : texts_(n, nullptr) {}
  ~TextArray() {
    for (char* t : texts_) std::free(t);
  }
  TextArray(const TextArray&) = delete;
  TextArray& operator=(const TextArray&) = delete;

  char** data() { return texts_.data(); }
  char*& operator[](size_t i) { return texts_[i]; }
  void Append(char* text) { texts_.push_back(text); }
  size_t size() const { return texts_.size(); }

 private:
  std::vector<char*> texts_;
};

// Frees a BSTR at scope end.
struct BstrHolder {
  BSTR b = nullptr;
  ~BstrHolder() { SysFreeString(b); }
};

// The caller's array, or a new 300-element one stored in its reference.
int32_t ArrayForReading(SAFEARRAY** array) {
  if (!array) return kErrArgument;
  if (*array) return (*array)->cDims == 1 ? kOk : kErrArgument;
  SAFEARRAYBOUND bound{kMaxValues, 0};
  *array = SafeArrayCreate(VT_BSTR, 1, &bound);
  return *array ? kOk : kErrComm;
}

bool StoreValue(SAFEARRAY* psa, ArrayIndex index, const char* value) {
  BstrHolder old;
  if (Failed(SafeArrayGetElement(psa, &index, &old.b))) return false;
  BstrHolder made;
  made.b = SysAllocStringByteLen(value, static_cast<uint32_t>(std::strlen(value)));
  if (!made.b) return false;
  // The array keeps a copy of its own.
  return !Failed(SafeArrayPutElement(psa, &index, made.b));
}

// Moves the delivered values into the array from its lower bound on; values it has no room for
// are dropped.
int32_t CopyIntoArray(TextArray& values, SAFEARRAY* psa) {
  const int64_t lower = psa->rgsabound[0].lLbound;
  const int64_t end = lower + psa->rgsabound[0].cElements;
  int64_t index = lower;
  for (size_t i = 0; i < kMaxValues && values[i] && index < end; ++i, ++index) {
    if (!StoreValue(psa, static_cast<ArrayIndex>(index), values[i])) return kErrComm;
    std::free(values[i]);
    values[i] = nullptr;
  }
  return kOk;
}

// The calling thread's Session is looked for only once the array is converted.
template <class Op>
int32_t OnThreadSession(Op&& op) {
  Session* s = FindSessionForThread();
  return s ? op(*s) : kErrComm;
}

template <class Call>
int32_t ReadIntoArray(SAFEARRAY** array, Call&& call) {
  if (array && *array && (*array)->cDims != 1) return kErrArgument;
  TextArray values(kMaxValues);
  int32_t r = ArrayForReading(array);
  if (r != kOk) return r;
  r = call(values.data());
  if (r != kOk) return r;
  return CopyIntoArray(values, *array);
}

// The array's texts up to and including the first empty one, as copies.
int32_t CopyFromArray(SAFEARRAY* psa, TextArray* out) {
  const int64_t lower = psa->rgsabound[0].lLbound;
  const int64_t end = lower + psa->rgsabound[0].cElements;
  for (int64_t index = lower; index < end; ++index) {
    ArrayIndex i = static_cast<ArrayIndex>(index);
    BstrHolder element;
    if (Failed(SafeArrayGetElement(psa, &i, &element.b))) return kErrComm;
    const char* bytes = reinterpret_cast<const char*>(element.b);
    const size_t length = bytes ? strnlen(bytes, SysStringByteLen(element.b)) : 0;
    char* copy = static_cast<char*>(std::calloc(length + 1, 1));
    if (!copy) return kErrNoMemory;
    if (length > 0) std::memcpy(copy, bytes, length);
    out->Append(copy);
    if (length == 0) break;
  }
  return kOk;
}

template <class Call>
int32_t WriteFromArray(SAFEARRAY** array, Call&& call) {
  if (!array || !*array || (*array)->cDims != 1) return kErrArgument;
  TextArray values(0);
  const int32_t r = CopyFromArray(*array, &values);
  if (r != kOk) return r;
  // Fields beyond the supplied values are written empty (a null text counts as empty).
  while (values.size() < kMaxValues) values.Append(nullptr);
  return call(values.data());
}

}  // namespace

int32_t AutomationGetRead(char* first, char* second, const char* fieldList, SAFEARRAY** array) {
  return ReadIntoArray(array, [&](char** v) {
    return OnThreadSession([&](Session& s) { return GetRead(s, first, second, fieldList, v); });
  });
}

int32_t AutomationMatGetFields(const char* fieldList, SAFEARRAY** array) {
  return ReadIntoArray(array, [&](char** v) {
    return OnThreadSession([&](Session& s) { return MatGetFields(s, fieldList, v); });
  });
}

int32_t AutomationMatPutFields(const char* fieldList, SAFEARRAY** array) {
  return WriteFromArray(array, [&](char** v) {
    return OnThreadSession([&](Session& s) { return MatPutFields(s, fieldList, v); });
  });
}

int32_t AutomationPutWrite(const char* fieldList, SAFEARRAY** array) {
  return WriteFromArray(array, [&](char** v) {
    return OnThreadSession([&](Session& s) { return PutWrite(s, fieldList, v); });
  });
}

}  // namespace zdb::fields
