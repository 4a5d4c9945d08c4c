// Selection, the field-definition cache, records, locks, transactions and maintenance through
// the exported functions against a real zdbd.
#include <cstring>
#include <string>
#include <vector>

#include "integration/library_fixture.h"
#include "wire/field_def.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

std::vector<wire::FieldDef> InfoFields(const char* list, int32_t* status) {
  std::string writable(list);
  std::vector<uint8_t> out(wire::kFieldDefListSize, 0);
  *status = Z_InfoFields(writable.data(), out.data());
  std::vector<wire::FieldDef> defs;
  for (size_t i = 0; i < wire::kMaxFields && out[i * wire::kFieldDefSize] != 0; ++i)
    defs.push_back(wire::DecodeFieldDef(out.data() + i * wire::kFieldDefSize));
  return defs;
}

std::string Name() {
  char field[] = "NAME";
  char name[21] = {};
  EXPECT_EQ(ZDB_GetField(field, name, 0xFFFFFFFFu), 1000);
  std::string s(name);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

class TablesLibrary : public LibraryFixture {
 protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    MakePeopleInShop(3);
  }
};

TEST_F(TablesLibrary, TheCacheFollowsTheServersTable) {
  Enter(host(), 0);
  char db[9] = {};
  char table[33] = {};
  ASSERT_EQ(ZDB_GetDB(db), 1000);
  ASSERT_EQ(ZDB_GetTable(table), 1000);
  EXPECT_STREQ(db, "SHOP");
  EXPECT_STREQ(table, "PEOPLE");

  int32_t status = 0;
  const auto all = InfoFields("*", &status);
  ASSERT_EQ(status, 1000);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].name, "NAME");
  EXPECT_EQ(all[0].type, 'C');
  EXPECT_EQ(all[0].width, 20u);
  EXPECT_EQ(all[1].type, 'I');
  EXPECT_EQ(all[3].subtype, 'D');
  const auto two = InfoFields(" AGE ,NAME", &status);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].name, "AGE");

  // Emptied by the server, still described by the cache.
  ASSERT_EQ(ZDB_ClearTable("", 0), 1000);
  EXPECT_EQ(ZDB_Read("FIRST", ""), 4042);
  EXPECT_EQ(InfoFields("NAME", &status).size(), 1u);
  EXPECT_EQ(status, 1000);

  // Closed: lookups go to the server, which has no selected table any more.
  ASSERT_EQ(ZDB_CloseTable("PEOPLE"), 1000);
  InfoFields("*", &status);
  EXPECT_EQ(status, 4020);
  EXPECT_EQ(ZDB_CloseTable("PEOPLE"), 4024);
  ASSERT_EQ(ZDB_UnUseDB("SHOP"), 1000);
  EXPECT_EQ(ZDB_SelTable("PEOPLE", ""), 4010);  // no database selected on the server
  EXPECT_EQ(ZDB_Finish(), 1000);
}

TEST_F(TablesLibrary, RecordsLocksAndTransactions) {
  ASSERT_EQ(ZDB_SelHost(server->host().c_str()), 1000);
  ASSERT_EQ(ZDB_UseDB("SHOP"), 1000);  // logs in on the way
  ASSERT_EQ(ZDB_SelDB("SHOP"), 1000);
  ASSERT_EQ(ZDB_OpenTable("PEOPLE", "", ""), 1000);
  ASSERT_EQ(ZDB_SelTable("PEOPLE", ""), 1000);

  ASSERT_EQ(ZDB_AppendBlank(), 1000);
  ASSERT_EQ(ZDB_PutField("NAME", "Added", 6), 1000);
  ASSERT_EQ(ZDB_Write(), 1000);
  ASSERT_EQ(ZDB_Read("LAST", ""), 1000);
  EXPECT_EQ(Name(), "Added");
  ASSERT_EQ(ZDB_Seek("NAME", "Person2"), 1000);
  EXPECT_EQ(Name(), "Person2");

  int32_t open = -1;
  ASSERT_EQ(ZDB_BeginTransaction(), 1000);
  ASSERT_EQ(ZDB_TRStatus(&open), 1000);
  EXPECT_EQ(open, 1);
  ASSERT_EQ(ZDB_Delete(""), 1000);
  EXPECT_EQ(ZDB_Seek("NAME", "Person2"), 4041);
  ASSERT_EQ(ZDB_RollBack(), 1000);
  ASSERT_EQ(ZDB_TRStatus(&open), 1000);
  EXPECT_EQ(open, 0);
  EXPECT_EQ(ZDB_Seek("NAME", "Person2"), 1000);
  EXPECT_EQ(ZDB_RollBack(), 4060);

  ASSERT_EQ(ZDB_Read("FIRST", "LOCK"), 1000);
  char what[] = "";
  char holder[33] = {};
  ASSERT_EQ(ZDB_WhoLock(what, holder), 1000);
  EXPECT_EQ(std::string(holder).rfind("anonymous#", 0), 0u) << holder;
  ASSERT_EQ(ZDB_RecUnLock(""), 1000);
  EXPECT_EQ(ZDB_WhoLock(what, holder), 4053);
  EXPECT_EQ(ZDB_DBIsLock("SHOP"), 1000);
  ASSERT_EQ(ZDB_DBLock("SHOP"), 1000);
  EXPECT_EQ(ZDB_DBIsLock("SHOP"), 4056);
  ASSERT_EQ(ZDB_DBUnLock("SHOP"), 1000);
  EXPECT_EQ(ZDB_DBUnLock("SHOP"), 4053);

  ASSERT_EQ(ZDB_CreateIndex("BYNAME", "", "NAME"), 1000);
  EXPECT_EQ(ZDB_CreateIndex("BYNAME", "", "NAME"), 4025);  // an index of that name exists
  EXPECT_EQ(ZDB_RebuildIndex(""), 1000);
  EXPECT_EQ(ZDB_EraseIndex("BYNAME"), 1000);
  EXPECT_EQ(ZDB_CompactTable(""), 1000);
  EXPECT_EQ(ZDB_Finish(), 1000);
}

}  // namespace
}  // namespace zdb::test
