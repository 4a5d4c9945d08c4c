// The statuses the public headers promise for requests that name or need a table, against what
// zdbd answers when the database, the table or the name is missing or wrong.
#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerCodes = ServerFixture;

bool AllZero(const Bytes& b) {
  for (uint8_t v : b)
    if (v) return false;
  return true;
}

TEST_F(ServerCodes, TableRequestsAnswerWhatTheHeadersPromise) {
  RawSession owner(port());
  MakePeople(owner, "CODES", 2);

  // No database selected: 4010 for each, and the lists come back empty.
  RawSession none(port());
  EXPECT_EQ(none.Status(Opcode("RebuildIndex"), Texts({""})), 4010);          // ZDB_RebuildIndex
  EXPECT_EQ(none.Status(Opcode("FFCopy"), Texts({"PEOPLE", "COPY"})), 4010);  // ZDB_FFCopy
  RawReply aliases = none.Full(Opcode("TableAlias"), {Bytes(3300, 0xEE), U32Slot(7)});
  EXPECT_EQ(aliases.status, 4010);  // Z_TableAlias
  EXPECT_TRUE(AllZero(aliases.slots[0]));
  EXPECT_EQ(wire::GetU32(aliases.slots[1].data()), 0u);
  for (uint32_t op : {Opcode("TBRefFrom"), Opcode("TBRefTo")}) {  // Z_TBRefFrom, Z_TBRefTo
    RawReply refs = none.Full(op, {Bytes(3304, 0xEE)});
    EXPECT_EQ(refs.status, 4010) << op;
    EXPECT_TRUE(AllZero(refs.slots[0])) << op;
  }

  // A database but no table selected: 4020 where the selected table is meant.
  RawSession db(port());
  ASSERT_EQ(db.Status(Opcode("UseDB"), Texts({"CODES"})), 1000);
  ASSERT_EQ(db.Status(Opcode("SelDB"), Texts({"CODES"})), 1000);
  EXPECT_EQ(db.Status(Opcode("RebuildIndex"), Texts({""})), 4020);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"", "COPY"})), 4020);
  for (uint32_t op : {Opcode("TBRefFrom"), Opcode("TBRefTo")}) {
    RawReply refs = db.Full(op, {Bytes(3304, 0xEE)});
    EXPECT_EQ(refs.status, 4020) << op;
    EXPECT_TRUE(AllZero(refs.slots[0])) << op;
  }
  RawReply empty = db.Full(Opcode("TableAlias"), {Bytes(3300, 0xEE), U32Slot(7)});
  EXPECT_EQ(empty.status, 1000);
  EXPECT_EQ(wire::GetU32(empty.slots[1].data()), 0u);

  // Unknown tables and bad names; nothing is created on the way.
  EXPECT_EQ(db.Status(Opcode("RebuildIndex"), Texts({"NOPE"})), 4021);
  EXPECT_EQ(db.Status(Opcode("RebuildIndex"), Texts({"PEOPLE"})), 1000);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"NOPE", "COPY"})), 4021);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"PEOPLE", ""})), 4023);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"PEOPLE", "1BAD"})), 4023);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"PEOPLE", "PEOPLE"})), 4002);
  EXPECT_EQ(db.Status(Opcode("OpenTable"), Texts({"COPY", "", ""})), 4021);
  EXPECT_EQ(db.Status(Opcode("FFCopy"), Texts({"PEOPLE", "COPY"})), 1000);
  ASSERT_EQ(db.Status(Opcode("OpenTable"), Texts({"COPY", "", ""})), 1000);
}

}  // namespace
}  // namespace zdb::test
