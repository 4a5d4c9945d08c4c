#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zdb_api.h"

namespace {

std::string Text(BSTR b) {
  return std::string(reinterpret_cast<const char*>(b), SysStringByteLen(b));
}

TEST(AutomationStandin, BstrLayoutIsLengthPrefixedAndDoublyTerminated) {
  BSTR b = SysAllocStringByteLen("abc\0de", 6);
  ASSERT_NE(b, nullptr);
  const auto* bytes = reinterpret_cast<const uint8_t*>(b);
  uint32_t prefix;
  std::memcpy(&prefix, bytes - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(std::memcmp(bytes, "abc\0de", 6), 0);
  EXPECT_EQ(bytes[6], 0);
  EXPECT_EQ(bytes[7], 0);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  SysFreeString(b);

  BSTR blank = SysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blank), 5), std::string(5, '\0'));
  SysFreeString(blank);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(AutomationStandin, OneDimensionalBstrArrayCopiesInAndOut) {
  SAFEARRAYBOUND bound{3, 5};
  SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 1, &bound);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  int32_t lo = 0, hi = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lo), 0);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &hi), 0);
  EXPECT_EQ(lo, 5);
  EXPECT_EQ(hi, 7);
  EXPECT_NE(SafeArrayGetLBound(psa, 2, &lo), 0);

  BSTR value = SysAllocStringByteLen("server,127.0.0.2", 16);
  int32_t index = 6;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, value), 0);
  SysFreeString(value);  // the array holds its own copy

  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &out), 0);
  EXPECT_EQ(Text(out), "server,127.0.0.2");
  BSTR again = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &again), 0);
  EXPECT_NE(out, again);  // every fetch is a fresh copy
  SysFreeString(out);
  SysFreeString(again);

  // An empty element reads back as a null BSTR; replacing a value frees the old one (the
  // sanitizer build would report the leak otherwise).
  index = 5;
  BSTR stale = SysAllocStringByteLen("x", 1);
  BSTR none = stale;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &none), 0);
  SysFreeString(stale);
  EXPECT_EQ(none, nullptr);
  index = 6;
  BSTR other = SysAllocStringByteLen("b", 1);
  ASSERT_EQ(SafeArrayPutElement(psa, &index, other), 0);
  SysFreeString(other);

  index = 8;
  EXPECT_NE(SafeArrayGetElement(psa, &index, &out), 0);
  index = 4;
  EXPECT_NE(SafeArrayPutElement(psa, &index, nullptr), 0);
  EXPECT_EQ(SafeArrayDestroy(psa), 0);  // frees the remaining element
}

TEST(AutomationStandin, TwoDimensionsAndUnsupportedTypes) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 2, bounds);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  int32_t hi = 0;
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &hi), 0);
  EXPECT_EQ(hi, 3);
  ASSERT_EQ(SafeArrayGetUBound(psa, 1, &hi), 0);
  EXPECT_EQ(hi, 1);
  int32_t at[2] = {1, 3};
  BSTR v = SysAllocStringByteLen("corner", 6);
  EXPECT_EQ(SafeArrayPutElement(psa, at, v), 0);
  BSTR back = nullptr;
  EXPECT_EQ(SafeArrayGetElement(psa, at, &back), 0);
  EXPECT_EQ(Text(back), "corner");
  SysFreeString(back);
  SysFreeString(v);
  int32_t outside[2] = {2, 1};
  EXPECT_NE(SafeArrayGetElement(psa, outside, &back), 0);
  EXPECT_EQ(SafeArrayDestroy(psa), 0);

  SAFEARRAYBOUND one{1, 0};
  EXPECT_EQ(SafeArrayCreate(12 /* variants are not supported */, 1, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_BSTR, 0, &one), nullptr);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), 0);
}

}  // namespace
