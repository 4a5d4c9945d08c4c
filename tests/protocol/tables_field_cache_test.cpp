#include <gtest/gtest.h>

#include "requests/field_lookup.h"
#include "tables_peer.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

class TablesFieldCache : public ::testing::Test {
 protected:
  void SetUp() override {
    test::AnswerFieldDefs(peer, [this] { return test::FieldList(fields); });
    s = test::LoggedInSession(peer);
    DatabaseKey db;
    MakeDatabaseKey("SALES", &db);
    RecordDatabase(s->fieldCache, db);
    SelectDatabase(s->fieldCache, db);
    peer.ClearRecords();
  }

  test::ScriptedPeer peer;
  std::unique_ptr<Session> s;
  std::vector<std::string> fields{"Id", "Name"};
};

TEST_F(TablesFieldCache, FetchesAllFieldsIntoTheLowestFreePlace) {
  s->fieldCache.databases[0].selectedTable = 7;  // stale, and must not answer the fetch
  s->fieldCache.databases[0].tables[0] = std::make_unique<TableDefBlock>();
  std::snprintf(s->fieldCache.databases[0].tables[0]->key(), 33, "%-32s", "Other");
  uint8_t index = 99;
  ASSERT_EQ(AddTable(*s, "Orders", &index), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(s->fieldCache.databases[0].selectedTable, kNoTableSelected);

  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].header.opcode, Opcode("InfoFields"));
  EXPECT_EQ(reqs[0].header.kindFlags(), 0x0001);
  ASSERT_EQ(reqs[0].header.paramCount, 2);
  EXPECT_EQ(reqs[0].slots[0], (test::Bytes{'*', 0}));
  EXPECT_EQ(reqs[0].slots[1], test::Bytes(wire::kFieldDefListSize, 0));  // a fresh, zeroed block

  TableDefBlock& block = *s->fieldCache.databases[0].tables[1];
  EXPECT_EQ(std::string(block.key()), "Orders" + std::string(26, ' '));
  EXPECT_EQ(test::NamesIn(block.fieldDefs()), fields);

  // Present already: the place is refilled with fresh definitions.
  fields = {"Id", "Name", "Added"};
  ASSERT_EQ(AddTable(*s, "Orders", &index), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(test::NamesIn(s->fieldCache.databases[0].tables[1]->fieldDefs()), fields);
}

TEST_F(TablesFieldCache, RefusalsLeaveThePlaceEmptyAndTheSelectionAsItWas) {
  uint8_t index = 0;
  s->fieldCache.databases[0].selectedTable = 4;
  test::AnswerFieldDefs(
      peer, [] { return test::FieldList({"X"}); }, 3050);
  EXPECT_EQ(AddTable(*s, "Orders", &index), 3050);
  EXPECT_EQ(s->fieldCache.databases[0].tables[0], nullptr);
  EXPECT_EQ(s->fieldCache.databases[0].selectedTable, 4);
  EXPECT_EQ(s->lastResult, 3050);

  // Too long for a key: refused before anything is sent.
  peer.ClearRecords();
  EXPECT_EQ(AddTable(*s, std::string(33, 'T').c_str(), &index), kErrArgument);

  // All 25 places taken: 2001 without asking the server.
  for (auto& place : s->fieldCache.databases[0].tables) place = std::make_unique<TableDefBlock>();
  EXPECT_EQ(AddTable(*s, "Orders", &index), kErrComm);
  EXPECT_TRUE(peer.requests().empty());
}

}  // namespace
}  // namespace zdb
