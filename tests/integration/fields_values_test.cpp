// Field values end to end against zdbd: single fields chosen by the cached definitions, whole
// records, the direct calls and the Automation forms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/library_fixture.h"
#include "platform/automation.h"
#include "wire/le.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

constexpr uint32_t kChoose = 0xFFFFFFFFu;

class FieldsValues : public LibraryFixture {
 protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    MakeShopTable("ITEMS", "NAME C 12; QTY I; PRICE N; NOTE C M 10; DAY C D");
    ASSERT_EQ(ZDB_AppendBlank(), 1000);
  }
};

TEST_F(FieldsValues, SingleFieldsTakeTheirSizesFromTheSelectedTable) {
  ASSERT_EQ(ZDB_PutField("NAME", "bolt", kChoose), 1000);
  char name[] = "NAME";
  char value[16];
  std::memset(value, '#', sizeof value);
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(std::string(value, 16), "bolt        ####");  // the width, no terminator

  uint8_t price[8];
  const double written = 12.25;
  std::memcpy(price, &written, 8);
  ASSERT_EQ(ZDB_PutField("PRICE", price, kChoose), 1000);
  uint8_t qty[2] = {0xF9, 0xFF};  // -7
  ASSERT_EQ(ZDB_PutField("QTY", qty, kChoose), 1000);
  ASSERT_EQ(ZDB_PutField("DAY", "2026-12-05", kChoose), 1000);

  char priceName[] = "PRICE";
  double read = 0;
  ASSERT_EQ(ZDB_GetField(priceName, &read, kChoose), 1000);
  EXPECT_DOUBLE_EQ(read, 12.25);
  char qtyName[] = "QTY";
  uint8_t got[4] = {0, 0, 0x55, 0x55};
  ASSERT_EQ(ZDB_GetField(qtyName, got, kChoose), 1000);
  EXPECT_EQ(static_cast<int16_t>(wire::GetU16(got)), -7);
  EXPECT_EQ(got[2], 0x55);
  char day[] = "DAY";
  char date[11] = {};
  ASSERT_EQ(ZDB_GetField(day, date, kChoose), 1000);
  EXPECT_STREQ(date, "2026-12-05");

  char note[] = "NOTE";
  uint16_t null = 0;
  ASSERT_EQ(ZDB_IsNull(note, &null), 1000);
  EXPECT_EQ(null, 1);
}

TEST_F(FieldsValues, WholeRecordsRoundTripAsTexts) {
  char* in[] = {const_cast<char*>("washer"), const_cast<char*>("12"), const_cast<char*>("0.5"),
                const_cast<char*>("a memo text")};
  ASSERT_EQ(ZDB_MatPutFields("NAME,QTY,PRICE,NOTE", in), 1000);
  char* out[300] = {};
  ASSERT_EQ(ZDB_MatGetFields("NOTE, PRICE ,NAME", out), 1000);
  EXPECT_STREQ(out[0], "a memo text");
  EXPECT_STREQ(out[1], "0.5");
  EXPECT_STREQ(out[2], "washer");
  EXPECT_EQ(out[3], nullptr);

  // A new record by PutWrite: a field it leaves out is null, read as an empty text.
  char* next[] = {const_cast<char*>("nut"), const_cast<char*>("3")};
  ASSERT_EQ(ZDB_PutWrite("NAME,QTY", next), 1000);
  ASSERT_EQ(ZDB_MatGetFields("PRICE,NAME", out), 1000);
  EXPECT_STREQ(out[0], "");
  EXPECT_STREQ(out[1], "nut");
  for (char* p : out) std::free(p);
  // The same record through the Automation form.
  SAFEARRAY* array = nullptr;
  ASSERT_EQ(DB_MatGetFields("NAME,QTY", &array), 1000);
  ASSERT_NE(array, nullptr);
  BSTR b = nullptr;
  platform::ArrayIndex index = 1;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &b), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), SysStringByteLen(b)), "3");
  SysFreeString(b);
  SafeArrayDestroy(array);
}

TEST_F(FieldsValues, DirectCallsNameTheirTable) {
  char table[] = "";
  char name[] = "NAME";
  char value[13] = "screw";
  ASSERT_EQ(ZDB_FWrite(table, name, value, kChoose), 1000);
  char back[13] = {};
  char table2[] = "ITEMS";
  ASSERT_EQ(ZDB_FRead(table2, name, back, kChoose), 1000);
  EXPECT_EQ(std::string(back, 12), "screw       ");
}

}  // namespace
}  // namespace zdb::test
