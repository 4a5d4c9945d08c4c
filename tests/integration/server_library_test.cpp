// The library's exported functions against a real zdbd: the typical road of an application in
// both connection modes, error texts included.
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

}  // namespace
}  // namespace zdb::test
