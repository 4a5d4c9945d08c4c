#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "requests/field_lookup.h"
#include "session/session.h"
#include "wire/field_def.h"

namespace zdb {
namespace {

// A Session whose cache holds database "SALES" (entry 0, selected) with table "Orders" at place
// 2, selected, defining the fields below. No socket is ever touched: every case here is
// answered locally.
class FieldCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFieldCache(s);
    DatabaseKey db;
    ASSERT_TRUE(MakeDatabaseKey("SALES", &db));
    RecordDatabase(s.fieldCache, db);
    SelectDatabase(s.fieldCache, db);
    Place(2, "Orders", {"Id", "Customer", "Amount", "Note"});
    s.fieldCache.databases[0].selectedTable = 2;
  }

  void Place(int place, const char* table, const std::vector<const char*>& fields) {
    auto block = std::make_unique<TableDefBlock>();
    std::snprintf(block->key(), wire::kNameKeySize, "%-32s", table);
    for (size_t i = 0; i < fields.size(); ++i) {
      wire::FieldDef d{fields[i], 'C', 'N', static_cast<uint32_t>(10 + i), {1, 2, 3, 4}};
      wire::EncodeFieldDef(d, block->fieldDefs() + i * wire::kFieldDefSize);
    }
    s.fieldCache.databases[0].tables[static_cast<size_t>(place)] = std::move(block);
  }

  // Names of the records copied to the output, up to the first empty one.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < wire::kMaxFields && out[i * wire::kFieldDefSize] != 0; ++i)
      names.push_back(wire::DecodeFieldDef(out.data() + i * wire::kFieldDefSize).name);
    return names;
  }

  int32_t Lookup(const char* list) {
    std::string writable(list);
    return LookupFieldDefs(s, writable.data(), out.data());
  }

  Session s;
  std::vector<uint8_t> out = std::vector<uint8_t>(wire::kFieldDefListSize, 0);
};

TEST_F(FieldCache, KeysArePaddedNeverCut) {
  TableKey t;
  ASSERT_TRUE(MakeTableKey("Orders", &t));
  EXPECT_EQ(std::string(t.data()), "Orders" + std::string(26, ' '));
  EXPECT_TRUE(MakeTableKey(std::string(32, 'x').c_str(), &t));
  EXPECT_FALSE(MakeTableKey(std::string(33, 'x').c_str(), &t));
  DatabaseKey d;
  ASSERT_TRUE(MakeDatabaseKey("SALES", &d));
  EXPECT_EQ(0, std::memcmp(d.data(), "SALES   \0", 9));
  EXPECT_FALSE(MakeDatabaseKey("NINECHARS", &d));
  EXPECT_FALSE(MakeDatabaseKey(nullptr, &d));
}

TEST_F(FieldCache, FindAndDropSearchOnlyTheSelectedDatabase) {
  uint8_t index = 99;
  EXPECT_EQ(FindTable(s, "Orders", &index), kOk);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(FindTable(s, "Orders   ", &index), kOk);  // trailing spaces are padding
  EXPECT_EQ(FindTable(s, " Orders", &index), kErrComm);
  EXPECT_EQ(FindTable(s, "orders", &index), kErrComm);
  EXPECT_EQ(FindTable(s, std::string(33, 'O').c_str(), &index), kErrArgument);

  // A second database holding the same table name: not seen while SALES is selected.
  DatabaseKey other;
  MakeDatabaseKey("STOCK", &other);
  RecordDatabase(s.fieldCache, other);
  s.fieldCache.databases[1].tables[0] = std::make_unique<TableDefBlock>();
  std::snprintf(s.fieldCache.databases[1].tables[0]->key(), 33, "%-32s", "Parts");
  EXPECT_EQ(DropTable(s, "Parts", &index), kErrComm);
  EXPECT_NE(s.fieldCache.databases[1].tables[0], nullptr);

  index = 99;
  EXPECT_EQ(DropTable(s, "Orders", &index), kOk);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(s.fieldCache.databases[0].tables[2], nullptr);
  EXPECT_EQ(s.fieldCache.databases[0].selectedTable, 2);  // the caller decides about 255
  EXPECT_EQ(DropTable(s, "Orders", &index), kErrComm);

  s.fieldCache.selectedDatabase = kNoDatabaseSelected;
  EXPECT_EQ(FindTable(s, "Orders", &index), kErrNoDatabase);
  EXPECT_EQ(DropTable(s, "Orders", &index), kErrNoDatabase);
  EXPECT_EQ(AddTable(s, "Orders", &index), kErrNoDatabase);
  EXPECT_EQ(CopyCachedFieldDefs(s, "*", out.data()), kErrNoDatabase);
}

TEST_F(FieldCache, ListsAreAnsweredFromTheSelectedBlock) {
  s.lastResult = 0;
  EXPECT_EQ(Lookup("*"), kOk);
  EXPECT_EQ(s.lastResult, kOk);
  EXPECT_EQ(0, std::memcmp(out.data(), s.fieldCache.databases[0].tables[2]->fieldDefs(),
                           wire::kFieldDefListSize));

  std::fill(out.begin(), out.end(), 0);
  EXPECT_EQ(Lookup("*,Amount"), kOk);  // only the first character counts
  EXPECT_EQ(Names(), (std::vector<std::string>{"Id", "Customer", "Amount", "Note"}));

  // The middle name is unknown: the other two fill positions 0 and 1.
  std::fill(out.begin(), out.end(), 0);
  EXPECT_EQ(Lookup("Note,Missing,Id"), kOk);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Note", "Id"}));
  const wire::FieldDef first = wire::DecodeFieldDef(out.data());
  EXPECT_EQ(first.width, 13u);
  EXPECT_EQ(0, std::memcmp(first.further, "\1\2\3\4", 4));

  // Items are trimmed of white space, empty items vanish, repeats are copied again.
  std::fill(out.begin(), out.end(), 0);
  EXPECT_EQ(Lookup(",, \tAmount\r\n ,,Amount,"), kOk);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Amount", "Amount"}));

  // Letter case counts.
  s.lastResult = 0;
  EXPECT_EQ(Lookup("amount"), kErrNoFieldMatch);
  EXPECT_EQ(s.lastResult, kErrNoFieldMatch);
  EXPECT_EQ(Lookup(",,"), kErrNoFieldMatch);
}

TEST_F(FieldCache, OutputIsNotClearedAndNeverOverrun) {
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(Lookup("Customer"), kOk);
  EXPECT_EQ(wire::DecodeFieldDef(out.data()).name, "Customer");
  EXPECT_EQ(out[wire::kFieldDefSize], 0xEE);

  // 301 matching items: the 12900 bytes hold 300 records and no more.
  std::string many = "Id";
  for (int i = 0; i < 300; ++i) many += ",Id";
  std::vector<uint8_t> guarded(wire::kFieldDefListSize + 16, 0x55);
  std::string writable = many;
  EXPECT_EQ(LookupFieldDefs(s, writable.data(), guarded.data()), kOk);
  EXPECT_EQ(wire::DecodeFieldDef(guarded.data() + 299 * wire::kFieldDefSize).name, "Id");
  for (size_t i = wire::kFieldDefListSize; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0x55);

  // A field name longer than any key is refused outright.
  EXPECT_EQ(Lookup(("Id," + std::string(33, 'F')).c_str()), kErrArgument);
  EXPECT_EQ(LookupFieldDefs(s, nullptr, out.data()), kErrArgument);
}

TEST_F(FieldCache, DatabaseEntriesFollowUseSelectAndRelease) {
  DatabaseKey key[6];
  const char* names[6] = {"SALES", "B", "C", "D", "E", "F"};
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(MakeDatabaseKey(names[i], &key[i]));
  for (int i = 0; i < 6; ++i) RecordDatabase(s.fieldCache, key[i]);  // SALES again: no change
  EXPECT_STREQ(s.fieldCache.databases[0].name, "SALES   ");
  EXPECT_NE(s.fieldCache.databases[0].tables[2], nullptr);
  EXPECT_STREQ(s.fieldCache.databases[4].name, "E       ");
  EXPECT_EQ(s.fieldCache.databases[4].selectedTable, kNoTableSelected);

  SelectDatabase(s.fieldCache, key[5]);  // never recorded: selection stays
  EXPECT_EQ(s.fieldCache.selectedDatabase, 0);
  SelectDatabase(s.fieldCache, key[2]);
  EXPECT_EQ(s.fieldCache.selectedDatabase, 2);

  ForgetDatabase(s.fieldCache, key[0]);  // not the selected one
  EXPECT_EQ(s.fieldCache.selectedDatabase, 2);
  EXPECT_EQ(0, std::memcmp(s.fieldCache.databases[0].name, "\0\0\0\0\0\0\0\0\0", 9));
  EXPECT_EQ(s.fieldCache.databases[0].tables[2], nullptr);
  EXPECT_EQ(s.fieldCache.databases[0].selectedTable, 2);  // left for the next use to set

  ForgetDatabase(s.fieldCache, key[2]);
  EXPECT_EQ(s.fieldCache.selectedDatabase, kNoDatabaseSelected);

  RecordDatabase(s.fieldCache, key[5]);  // the lowest free entry is taken again
  EXPECT_STREQ(s.fieldCache.databases[0].name, "F       ");
  EXPECT_EQ(s.fieldCache.databases[0].selectedTable, kNoTableSelected);
}

TEST_F(FieldCache, ResetEmptiesOnlyTheFirstEntry) {
  DatabaseKey other;
  MakeDatabaseKey("STOCK", &other);
  RecordDatabase(s.fieldCache, other);
  s.fieldCache.databases[1].tables[7] = std::make_unique<TableDefBlock>();
  EXPECT_EQ(ResetFieldCache(s), kOk);
  EXPECT_EQ(s.fieldCache.selectedDatabase, kNoDatabaseSelected);
  EXPECT_EQ(s.fieldCache.databases[0].name[0], 0);
  EXPECT_EQ(s.fieldCache.databases[0].selectedTable, 0);
  EXPECT_EQ(s.fieldCache.databases[0].tables[2], nullptr);
  EXPECT_STREQ(s.fieldCache.databases[1].name, "STOCK   ");
  EXPECT_NE(s.fieldCache.databases[1].tables[7], nullptr);
}

}  // namespace
}  // namespace zdb
