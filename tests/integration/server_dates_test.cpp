// Dates are days of the calendar on every way a value enters zdbd through the library: a
// single field, a direct write, whole records appended or rewritten, a copy from another field
// and a default value. A refused date leaves the stored one as it was.
#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/library_fixture.h"
#include "zdb_api_catalog.h"

namespace zdb::test {
namespace {

constexpr uint32_t kChoose = 0xFFFFFFFFu;
using ServerDates = LibraryFixture;

std::string StoredDay() {
  char name[] = "DAY";
  char date[11] = {};
  EXPECT_EQ(ZDB_GetField(name, date, kChoose), 1000);
  return date;
}

TEST_F(ServerDates, EveryWritePathRefusesADayTheCalendarHasNot) {
  MakeShopTable("ITEMS", "NAME C 12; DAY C D");
  ASSERT_EQ(ZDB_AppendBlank(), 1000);
  ASSERT_EQ(ZDB_PutField("DAY", "2024-02-29", kChoose), 1000);  // a leap day
  EXPECT_EQ(StoredDay(), "2024-02-29");

  for (const char* bad : {"2024-02-30", "2023-02-29", "1900-02-29", "2024-06-31"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ZDB_PutField("DAY", bad, kChoose), 4033);
    char table[] = "ITEMS", field[] = "DAY";
    char value[11];
    std::memcpy(value, bad, 11);
    EXPECT_EQ(ZDB_FWrite(table, field, value, 10), 4033);
    char* values[2] = {const_cast<char*>("new"), const_cast<char*>(bad)};
    EXPECT_EQ(ZDB_MatPutFields("NAME,DAY", values), 4033);
    EXPECT_EQ(StoredDay(), "2024-02-29");  // neither field of the record changed
    EXPECT_EQ(ZDB_PutWrite("NAME,DAY", values), 4033);
    // The text field takes it; a copy into the date field does not.
    ASSERT_EQ(ZDB_PutField("NAME", bad, kChoose), 1000);
    EXPECT_EQ(ZDB_CpyField("", "NAME", "", "DAY"), 4033);
    EXPECT_EQ(StoredDay(), "2024-02-29");
    EXPECT_EQ(Z_PutDefaultValue("DAY", bad), 4033);
  }
  ASSERT_EQ(ZDB_PutField("NAME", "2000-02-29", kChoose), 1000);
  EXPECT_EQ(ZDB_CpyField("", "NAME", "", "DAY"), 1000);
  EXPECT_EQ(StoredDay(), "2000-02-29");
  EXPECT_EQ(Z_PutDefaultValue("DAY", "2028-02-29"), 1000);

  // Nothing refused was appended: the first record and one PutWrite of a good date.
  char* good[2] = {const_cast<char*>("last"), const_cast<char*>("2024-12-31")};
  ASSERT_EQ(ZDB_PutWrite("NAME,DAY", good), 1000);
  ASSERT_EQ(ZDB_Read("FIRST", ""), 1000);
  int count = 1;
  while (ZDB_Read("NEXT", "") == 1000) ++count;
  EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace zdb::test
