// The new meanings reached through the exported functions, as an application reaches them.
#include <cstring>
#include <string>

#include "integration/server_meaning.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

TEST_F(ServerMeaning, RulesIndexesAndCopiesThroughTheLibrary) {
  {
    RawSession setup(port());
    MakePeople(setup, "SHOP", 2);
  }
  ASSERT_EQ(ZDB_SelHost(server->host().c_str()), 1000);
  ASSERT_EQ(ZDB_Init("", ""), 1000);
  ASSERT_EQ(ZDB_UseDB("SHOP"), 1000);
  ASSERT_EQ(ZDB_SelDB("SHOP"), 1000);
  ASSERT_EQ(ZDB_OpenTable("PEOPLE", "", ""), 1000);
  ASSERT_EQ(ZDB_SelTable("PEOPLE", ""), 1000);

  Bytes range = Constraint("AGE", 0, 'R', "18", "65");
  ASSERT_EQ(Z_AddConstrain("", range.data()), 1000);
  char age[] = "AGE";
  Bytes back(364);
  ASSERT_EQ(Z_GetConstrain(age, 1, back.data()), 1000);
  EXPECT_EQ(TextAt(back, 164), "65");
  ASSERT_EQ(ZDB_Read("1", ""), 1000);
  int16_t old = 70;
  EXPECT_EQ(ZDB_PutField("AGE", &old, 0xFFFFFFFFu), 4034);  // the library sends 2 bytes
  int16_t fine = 40;
  EXPECT_EQ(ZDB_PutField("AGE", &fine, 0xFFFFFFFFu), 1000);
  char text[129] = {};
  ASSERT_EQ(ZDB_GetError(4034, text), 1000);
  EXPECT_STREQ(text, "Value refused by a constraint of the field");
  ASSERT_EQ(ZDB_GetError(2013, text), 1000);
  EXPECT_STREQ(text, "None of the listed fields is defined");

  ASSERT_EQ(Z_PutDefaultValue("AGE", "30"), 1000);
  ASSERT_EQ(ZDB_AppendBlank(), 1000);
  int16_t got = 0;
  ASSERT_EQ(ZDB_GetField(age, &got, 0xFFFFFFFFu), 1000);
  EXPECT_EQ(got, 30);
  char n1[] = "Young", a1[] = "10";
  char* values[] = {n1, a1};
  EXPECT_EQ(ZDB_PutWrite("NAME,AGE", values), 4034);

  ASSERT_EQ(Z_AddIFields("BYAGE", "AGE", 0), 1000);
  int32_t count = 0;
  Bytes indexes(3600);
  ASSERT_EQ(Z_TableIndex(&count, indexes.data()), 1000);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(TextAt(indexes, 0), "BYAGE");

  ASSERT_EQ(ZDB_Alias("FOLKS", "PEOPLE", ""), 1000);
  ASSERT_EQ(ZDB_BackupTable("PEOPLE", "people.bak"), 1000);
  ASSERT_EQ(ZDB_RestoreTable("PEOPLE2", "people.bak"), 1000);
  ASSERT_EQ(ZDB_OpenTable("PEOPLE2", "", ""), 1000);
  ASSERT_EQ(ZDB_FFCopy("PEOPLE2", "PEOPLE"), 1000);  // the copies obey PEOPLE's rules
  ASSERT_EQ(Z_AddFXREF("SAME", "PEOPLE2", "NAME", "PEOPLE", "NAME", "", ""), 1000);
  EXPECT_EQ(ZDB_XRefTest("PEOPLE2", ""), 1000);
  ASSERT_EQ(ZDB_SelTable("PEOPLE2", ""), 1000);
  ASSERT_EQ(ZDB_Read("1", ""), 1000);
  EXPECT_EQ(ZDB_PutField("NAME", "Stranger", 0xFFFFFFFFu), 4037);
  EXPECT_EQ(ZDB_Finish(), 1000);
}

}  // namespace
}  // namespace zdb::test
