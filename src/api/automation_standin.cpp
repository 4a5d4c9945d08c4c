// Automation arrays and strings for systems without OLE Automation. The layouts match the
// Windows ones so that callers written for them work unchanged: a BSTR points just past a
// 32-bit byte length and ends with two zero bytes; a SAFEARRAY carries one bound per
// dimension, the last dimension's bound first. Memory handed out here is the caller's to
// release through these same functions, so it comes from malloc and never from new.
// The definitions below take the zdb_ names through the header's macros (see zdb_api.h).
#include <cstdlib>
#include <cstring>

#include "zdb_api.h"

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kBadIndex = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT kArrayLocked = static_cast<HRESULT>(0x8002000Du);
constexpr uint16_t kFeatureBstr = 0x0100;

// Element sizes of the element types the stand-in supports; 0 for the others.
uint32_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return sizeof(BSTR);
    case 2:   // VT_I2
    case 11:  // VT_BOOL
      return 2;
    case 3:  // VT_I4
    case 4:  // VT_R4
      return 4;
    case 5:  // VT_R8
      return 8;
    case 17:  // VT_UI1
      return 1;
    default:
      return 0;
  }
}

size_t SafeArrayBytes(uint32_t dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

size_t ElementCount(const SAFEARRAY* psa) {
  size_t n = 1;
  for (uint16_t d = 0; d < psa->cDims; ++d) n *= psa->rgsabound[d].cElements;
  return n;
}

// The element the indices name (the first index belongs to the first dimension, whose bound is
// stored last), or null when an index is out of its bounds.
void* ElementAt(SAFEARRAY* psa, const int32_t* indices) {
  size_t offset = 0;
  for (uint16_t d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
    const int64_t i = static_cast<int64_t>(indices[d]) - b.lLbound;
    if (i < 0 || i >= static_cast<int64_t>(b.cElements)) return nullptr;
    offset = offset * b.cElements + static_cast<size_t>(i);
  }
  return static_cast<uint8_t*>(psa->pvData) + offset * psa->cbElements;
}

bool IsBstrArray(const SAFEARRAY* psa) {
  return (psa->fFeatures & kFeatureBstr) != 0;
}

BSTR CopyBstr(BSTR source) {
  if (!source) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
}

const SAFEARRAYBOUND* BoundOf(SAFEARRAY* psa, uint32_t nDim) {
  if (!psa || nDim < 1 || nDim > psa->cDims) return nullptr;
  return &psa->rgsabound[psa->cDims - nDim];
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t cDims, SAFEARRAYBOUND* rgsabound) {
  const uint32_t size = ElementSize(vt);
  if (size == 0 || cDims == 0 || cDims > 64 || !rgsabound) return nullptr;
  auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, SafeArrayBytes(cDims)));
  if (!psa) return nullptr;
  psa->cDims = static_cast<uint16_t>(cDims);
  psa->fFeatures = vt == VT_BSTR ? kFeatureBstr : 0;
  psa->cbElements = size;
  // Callers list the bounds first dimension first; the array keeps them the other way round.
  for (uint32_t d = 0; d < cDims; ++d) psa->rgsabound[cDims - 1 - d] = rgsabound[d];
  const size_t count = ElementCount(psa);
  if (count > 0) {
    psa->pvData = std::calloc(count, size);
    if (!psa->pvData) {
      std::free(psa);
      return nullptr;
    }
  }
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return kOk;
  if (psa->cLocks > 0) return kArrayLocked;
  if (IsBstrArray(psa) && psa->pvData) {
    auto* elements = static_cast<BSTR*>(psa->pvData);
    for (size_t i = 0, n = ElementCount(psa); i < n; ++i) SysFreeString(elements[i]);
  }
  std::free(psa->pvData);
  std::free(psa);
  return kOk;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, int32_t* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return kInvalidArg;
  void* element = ElementAt(psa, rgIndices);
  if (!element) return kBadIndex;
  if (IsBstrArray(psa)) {
    BSTR source = *static_cast<BSTR*>(element);
    BSTR copy = CopyBstr(source);
    if (source && !copy) return kOutOfMemory;
    *static_cast<BSTR*>(pv) = copy;
  } else {
    std::memcpy(pv, element, psa->cbElements);
  }
  return kOk;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, int32_t* rgIndices, void* pv) {
  if (!psa || !rgIndices) return kInvalidArg;
  void* element = ElementAt(psa, rgIndices);
  if (!element) return kBadIndex;
  if (IsBstrArray(psa)) {
    // The value is the BSTR itself, not a pointer to one, as with OLE Automation.
    BSTR copy = CopyBstr(static_cast<BSTR>(pv));
    if (pv && !copy) return kOutOfMemory;
    BSTR* slot = static_cast<BSTR*>(element);
    SysFreeString(*slot);
    *slot = copy;
  } else {
    if (!pv) return kInvalidArg;
    std::memcpy(element, pv, psa->cbElements);
  }
  return kOk;
}

uint32_t SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plLbound) {
  const SAFEARRAYBOUND* b = BoundOf(psa, nDim);
  if (!plLbound) return kInvalidArg;
  if (!b) return kBadIndex;
  *plLbound = b->lLbound;
  return kOk;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plUbound) {
  const SAFEARRAYBOUND* b = BoundOf(psa, nDim);
  if (!plUbound) return kInvalidArg;
  if (!b) return kBadIndex;
  *plUbound = b->lLbound + static_cast<int32_t>(b->cElements) - 1;
  return kOk;
}

BSTR SysAllocStringByteLen(const char* psz, uint32_t len) {
  if (len > 0x7FFFFFF0u) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + len + 2));
  if (!block) return nullptr;
  std::memcpy(block, &len, sizeof len);
  uint8_t* text = block + sizeof(uint32_t);
  if (psz) {
    std::memcpy(text, psz, len);
  } else {
    std::memset(text, 0, len);
  }
  text[len] = 0;
  text[len + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<uint8_t*>(bstr) - sizeof(uint32_t));
}

uint32_t SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t len;
  std::memcpy(&len, reinterpret_cast<uint8_t*>(bstr) - sizeof(uint32_t), sizeof len);
  return len;
}

}  // extern "C"
