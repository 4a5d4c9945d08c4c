#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "requests/single_field.h"
#include "requests/whole_record.h"
#include "wire/field_def.h"

namespace zdb::fields {
namespace {

// Expected sizes, written per letter pair from the rules' order rather than computed: charWidth
// 20 and otherWidth 33 tell which width a rule took.
struct Row {
  char type;
  char subtype;
  uint32_t read;
  uint32_t write;  // 0: the value's text length decides
};

const Row kRows[] = {
    {'N', 'N', 8, 8},   {'N', 'D', 8, 8},   {'N', 'M', 8, 8},   {'N', 'B', 8, 8},
    {'N', ' ', 8, 8},   {'C', 'N', 8, 8},   {'I', 'N', 2, 2},   {'I', 'D', 2, 2},
    {'I', 'M', 2, 2},   {'I', 'B', 2, 2},   {'I', ' ', 2, 2},   {'C', 'D', 10, 0},
    {'C', 'M', 256, 0}, {'C', 'B', 256, 0}, {'C', ' ', 20, 0},  {'C', 'X', 20, 0},
    {'X', 'N', 33, 0},  {'X', 'D', 10, 0},  {'X', 'M', 256, 0}, {'D', 'B', 256, 0},
    {'L', ' ', 33, 0},  {'c', 'n', 33, 0},  {'n', ' ', 33, 0},  {0, 0, 33, 0},
};

TEST(FieldSizeRules, FirstMatchingRuleWinsForEveryLetterPair) {
  for (const Row& r : kRows) {
    SCOPED_TRACE(std::string{"type '"} + r.type + "' subtype '" + r.subtype + "'");
    const FieldLetters f{r.type, r.subtype, 20, 33};
    EXPECT_EQ(ReadSizeFor(f), r.read);
    EXPECT_EQ(FixedWriteSize(f), r.write);
  }
}

std::vector<uint8_t> Defs(const std::vector<wire::FieldDef>& list) {
  std::vector<uint8_t> out(wire::kFieldDefListSize, 0);
  for (size_t i = 0; i < list.size(); ++i) wire::EncodeFieldDef(list[i], &out[i * 43]);
  return out;
}

wire::FieldDef D(const char* name, char subtype, uint32_t width) {
  wire::FieldDef d;
  d.name = name;
  d.type = 'C';
  d.subtype = subtype;
  d.width = width;
  return d;
}

TEST(ValueArea, EffectiveWidthsCountAndSlots) {
  auto defs = Defs({D("A", 'M', 10), D("B", 'B', 1000), D("C", ' ', 3), D("E", 'N', 0)});
  EXPECT_EQ(CountFields(defs.data()), 4u);
  EXPECT_EQ(EffectiveWidth(&defs[0]), 255u);
  EXPECT_EQ(EffectiveWidth(&defs[86]), 3u);
  ApplyEffectiveWidths(defs.data(), 4);
  EXPECT_EQ(wire::DecodeFieldDef(&defs[43]).width, 255u);
  EXPECT_EQ(wire::DecodeFieldDef(&defs[86]).width, 3u);

  ValueArea area;
  ASSERT_EQ(area.Allocate(defs.data(), 4), 1000);
  ASSERT_EQ(area.size(), 256u + 256 + 4 + 1);
  const char* values[] = {"memo", nullptr, "abcdef", "x"};
  area.Put(defs.data(), 4, values);
  std::vector<uint8_t> expected(517, 0);
  std::memcpy(&expected[0], "memo", 4);
  std::memcpy(&expected[512], "abc", 3);  // cut to the width: the slot's zero stays
  // A zero-width field has room for no character at all.
  EXPECT_EQ(std::vector<uint8_t>(area.data(), area.data() + area.size()), expected);
}

TEST(ValueArea, CountStopsAtTheEndRecordOrAfter300) {
  auto defs = Defs({D("A", ' ', 1), D("B", ' ', 1)});
  EXPECT_EQ(CountFields(defs.data()), 2u);
  std::vector<uint8_t> full(wire::kFieldDefListSize + 43, 'x');
  EXPECT_EQ(CountFields(full.data()), 300u);
  defs[0] = 0;
  EXPECT_EQ(CountFields(defs.data()), 0u);
  ValueArea empty;
  ASSERT_EQ(empty.Allocate(defs.data(), 0), 1000);
  EXPECT_EQ(empty.size(), 0u);
}

TEST(ValueArea, HugeWidthsAreRefusedBeforeAnyAllocation) {
  auto defs = Defs({D("A", ' ', 0xFFFFFFFFu), D("B", ' ', 0x7FFFFFFFu)});
  ValueArea area;
  EXPECT_EQ(area.Allocate(defs.data(), 2), 2004);
}

TEST(ValueArea, UnpackTrimsNumericTextsOnly) {
  auto defs = Defs({D("N", 'N', 8), D("T", ' ', 8), D("Z", 'N', 3)});
  ValueArea area;
  ASSERT_EQ(area.Allocate(defs.data(), 3), 1000);
  std::memcpy(area.data(), "\t 4.5 \r\n", 8);
  std::memcpy(area.data() + 9, " pad  ", 6);
  std::memcpy(area.data() + 18, "   ", 3);
  std::vector<char*> values(3);
  for (auto& v : values) v = static_cast<char*>(std::calloc(9, 1));
  area.Unpack(defs.data(), 3, values.data(), {8, 8, 3});
  EXPECT_STREQ(values[0], "4.5");
  EXPECT_STREQ(values[1], " pad  ");
  EXPECT_STREQ(values[2], "");
  for (auto* v : values) std::free(v);
}

TEST(TrimWhiteSpace, BothEndsAllSixCharacters) {
  char a[] = " \t\n\v\f\rx y\r\f\v\n\t ";
  TrimWhiteSpace(a);
  EXPECT_STREQ(a, "x y");
  char b[] = "   ";
  TrimWhiteSpace(b);
  EXPECT_STREQ(b, "");
  char c[] = "plain";
  TrimWhiteSpace(c);
  EXPECT_STREQ(c, "plain");
}

}  // namespace
}  // namespace zdb::fields
