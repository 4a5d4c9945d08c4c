// The library's exported functions against a real zdbd: the typical road in both connection
// modes with error texts, and rules, indexes and copies reached as an application reaches them.
#include <cstring>

#include "integration/library_fixture.h"

namespace zdb::test {
namespace {

class ServerLibrary : public LibraryFixture {
 protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    MakePeopleInShop(3);
  }
};

TEST_F(ServerLibrary, TheTypicalRoadInBothConnectionModes) {
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    Enter(host(), mode);
    ASSERT_EQ(ZDB_Seek("NAME", "Person2"), 1000);
    char nameField[] = "NAME";
    char name[21] = {};
    ASSERT_EQ(ZDB_GetField(nameField, name, 0xFFFFFFFFu), 1000);
    EXPECT_STREQ(name, "Person2             ");  // the width from the cached definition
    char field[] = "AGE";
    int16_t age = 0;
    ASSERT_EQ(ZDB_GetField(field, &age, 0xFFFFFFFFu), 1000);
    EXPECT_EQ(age, 22);
    double salary = 2500.25;
    ASSERT_EQ(ZDB_PutField("SALARY", &salary, 0xFFFFFFFFu), 1000);
    char sal[] = "SALARY";
    double back = 0;
    ASSERT_EQ(ZDB_GetField(sal, &back, 0xFFFFFFFFu), 1000);
    EXPECT_EQ(back, 2500.25);
    EXPECT_EQ(ZDB_Seek("NAME", "Nobody"), 4041);
    char text[129] = {};
    ASSERT_EQ(ZDB_GetError(4041, text), 1000);
    EXPECT_STREQ(text, "Record not found");
    EXPECT_EQ(ZDB_Finish(), 1000);
  }
  // Two logins, two sessions; the persistent one used a single connection for all its requests.
  EXPECT_NE(server->Log().find("ended: logout"), std::string::npos);
}

TEST_F(ServerLibrary, RulesIndexesAndCopies) {
  Enter(host(), 0);

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
