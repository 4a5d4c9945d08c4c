// zdbd's meaning over SQLite, driven with raw frames: records and values, two sessions with locks
// and transactions, users and privileges, SQL scripts, export and import, a restart.
#include <cstring>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerData = ServerFixture;

double DoubleOf(const std::string& bytes) {
  uint64_t bits = wire::GetU64(reinterpret_cast<const uint8_t*>(bytes.data()));
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

Bytes DoubleSlot(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  Bytes b(8);
  wire::PutU64(b.data(), bits);
  return b;
}

TEST_F(ServerData, NavigationAndSingleFieldValues) {
  RawSession s(port());
  MakePeople(s, "SHOP", 3);
  EXPECT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person1             ");  // space-padded to the width
  EXPECT_EQ(s.Read("NEXT"), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person2             ");
  EXPECT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Read("NEXT"), 4042);  // end of table: the record stays
  EXPECT_EQ(s.Get("NAME", 20), "Person3             ");
  EXPECT_EQ(s.Read("PRIOR"), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person2             ");
  EXPECT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person1             ");
  EXPECT_EQ(s.Read("99"), 4041);
  EXPECT_EQ(s.Read("SIDEWAYS"), 4002);

  // Seek by a field's value.
  ASSERT_EQ(s.Status(Opcode("Seek"), {TextSlot("NAME"), TextSlot("Person3")}), 1000);
  std::string age = s.Get("AGE", 2);
  EXPECT_EQ(wire::GetU16(reinterpret_cast<const uint8_t*>(age.data())), 23);
  EXPECT_EQ(s.Status(Opcode("Seek"), {TextSlot("NAME"), TextSlot("Nobody")}), 4041);
  ASSERT_EQ(s.Status(Opcode("Seek"), {TextSlot("AGE"), TextSlot("21")}), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person1             ");

  // N travels as an 8-byte double, I as a 2-byte integer, a date as 10 characters.
  ASSERT_EQ(s.Status(Opcode("PutField"), {TextSlot("SALARY"), DoubleSlot(1234.5), U32Slot(8)}),
            1000);
  EXPECT_DOUBLE_EQ(DoubleOf(s.Get("SALARY", 8)), 1234.5);
  ASSERT_EQ(
      s.Status(Opcode("PutField"), {TextSlot("AGE"), H16(static_cast<uint16_t>(-7)), U32Slot(2)}),
      1000);
  EXPECT_EQ(
      static_cast<int16_t>(wire::GetU16(reinterpret_cast<const uint8_t*>(s.Get("AGE", 2).data()))),
      -7);
  EXPECT_EQ(s.Put("BORN", "1999-12-31"), 1000);
  EXPECT_EQ(s.Get("BORN", 10), "1999-12-31");
  EXPECT_EQ(s.Put("BORN", "31.12.1999"), 4033);
  EXPECT_EQ(s.Put("NAME", std::string(21, 'x')), 4033);  // longer than the width: refused
  EXPECT_EQ(s.Put("NOSUCH", "x"), 4030);
  // Testing a value checks it without storing it.
  EXPECT_EQ(s.Status(Opcode("TestField"), {TextSlot("AGE"), TextSlot("70000"), U32Slot(6)}), 4033);
  EXPECT_EQ(s.Status(Opcode("TestField"), {TextSlot("AGE"), TextSlot("12"), U32Slot(3)}), 1000);
  EXPECT_EQ(s.Get("AGE", 6), "-7    ");

  // A blank record's fields are null until written.
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  RawReply n = s.Full(Opcode("IsNull"), {TextSlot("NAME"), Bytes(2)});
  EXPECT_EQ(n.slots[1], (Bytes{1, 0}));
  ASSERT_EQ(s.Put("NAME", "Zed"), 1000);
  n = s.Full(Opcode("IsNull"), {TextSlot("NAME"), Bytes(2)});
  EXPECT_EQ(n.slots[1], (Bytes{0, 0}));
  // Direct read with a leading table name; delete moves to the next record.
  RawReply f =
      s.Full(Opcode("FRead"), {TextSlot("PEOPLE"), TextSlot("NAME"), Bytes(5), U32Slot(5)});
  EXPECT_EQ(std::string(f.slots[2].begin(), f.slots[2].end()), "Zed  ");
  ASSERT_EQ(s.Read("FIRST"), 1000);
  ASSERT_EQ(s.Status(Opcode("Delete"), {TextSlot("")}), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Person2             ");
  EXPECT_EQ(s.Status(Opcode("Delete"), {TextSlot("1")}), 4041);
}

TEST_F(ServerData, WholeRecordsAndFieldDefinitions) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  RawReply info = s.Full(Opcode("InfoFields"), {TextSlot("*"), Bytes(wire::kFieldDefListSize)});
  ASSERT_EQ(info.status, 1000);
  wire::FieldDef born = wire::DecodeFieldDef(info.slots[1].data() + 3 * wire::kFieldDefSize);
  EXPECT_EQ(born.name, "BORN");
  EXPECT_EQ(born.type, 'C');
  EXPECT_EQ(born.subtype, 'D');
  EXPECT_EQ(born.width, 10u);
  EXPECT_EQ(info.slots[1][4 * wire::kFieldDefSize], 0);  // the list ends after four
  EXPECT_EQ(s.Full(Opcode("InfoFields"), {TextSlot("NOPE"), Bytes(wire::kFieldDefListSize)}).status,
            4030);

  // The 132-byte descriptor: subtype at 99, type at 100, widths at 101 and 105.
  RawReply d = s.Full(Opcode("GetField descriptor"), {TextSlot("SALARY"), Bytes{'*'}, Bytes(132)});
  ASSERT_EQ(d.status, 1000);
  EXPECT_EQ(d.slots[2][100], 'N');
  EXPECT_EQ(wire::GetU32(d.slots[2].data() + 105), 8u);

  // Read the listed fields of record 2, then write two of them back changed.
  Bytes defs = Defs({{"NAME", 20}, {"AGE", 6}});
  RawReply r = s.Full(Opcode("GetRead"), {TextSlot("2"), TextSlot(""), defs, Bytes(28)});
  ASSERT_EQ(r.status, 1000);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.slots[3].data()), "Person2");
  EXPECT_STREQ(reinterpret_cast<const char*>(r.slots[3].data() + 21), "22");
  EXPECT_EQ(r.slots[2], defs);  // the definitions come back as sent

  Bytes values(28);
  std::memcpy(values.data(), "Renamed", 7);
  std::memcpy(values.data() + 21, "44", 2);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("MatPutFields"), {defs, values}, s.handle()).status,
            1000);
  EXPECT_EQ(s.Get("NAME", 7), "Renamed");
  // A value area that does not match the definitions is refused.
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("MatPutFields"), {defs, Bytes(27)}, s.handle()).status,
            4002);
  // Put-and-write appends a record holding the values.
  std::memcpy(values.data(), "NewOne\0", 7);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("PutWrite"), {defs, values}, s.handle()).status, 1000);
  ASSERT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Get("NAME", 6), "NewOne");

  // Adding a field through its descriptor, then deleting it.
  Bytes desc(132);
  std::memcpy(desc.data(), "NOTE", 4);
  desc[99] = 'M';
  desc[100] = 'C';
  wire::PutU32(desc.data() + 101, 10);
  EXPECT_EQ(s.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), desc}), 1000);
  EXPECT_EQ(s.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), desc}), 4031);
  EXPECT_EQ(s.Put("NOTE", std::string(300, 'm')), 1000);  // memo: not held to the width
  EXPECT_EQ(s.Get("NOTE", 256), std::string(256, 'm'));
  EXPECT_EQ(s.Status(Opcode("DelField"), {TextSlot("NOTE")}), 1000);
  EXPECT_EQ(s.Put("NOTE", "x"), 4030);
}

// A field changed within its storage class keeps its values; a change that would leave a stored
// value it cannot hold (narrower than the value, a date over text that is none) is refused and
// changes nothing, on either engine.
TEST_F(ServerData, FieldChangesKeepEveryStoredValueOrAreRefused) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  const auto desc = [](const std::string& name, char type, char subtype, uint32_t width) {
    Bytes d(132);
    std::memcpy(d.data(), name.data(), name.size());
    d[99] = static_cast<uint8_t>(subtype);
    d[100] = static_cast<uint8_t>(type);
    wire::PutU32(d.data() + 101, width);
    return d;
  };
  const auto change = [&](const std::string& field, const Bytes& to) {
    return s.Status(Opcode("UpdField"), {TextSlot(""), TextSlot(field), to});
  };
  ASSERT_EQ(s.Read("2"), 1000);
  ASSERT_EQ(s.Put("NAME", "Second person"), 1000);  // 13 characters
  ASSERT_EQ(change("NAME", desc("FULLNAME", 'C', 0, 30)), 1000);
  EXPECT_EQ(s.Put("NAME", "x"), 4030);
  EXPECT_EQ(s.Get("FULLNAME", 30), "Second person" + std::string(17, ' '));

  EXPECT_EQ(change("FULLNAME", desc("FULLNAME", 'C', 0, 12)), 4033);
  EXPECT_EQ(change("FULLNAME", desc("FULLNAME", 'C', 'D', 10)), 4033);
  EXPECT_EQ(change("AGE", desc("AGE", 'C', 0, 10)), 4032);  // another storage class
  // Refused, the definition is as it was: 30 characters still go in.
  ASSERT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(s.Put("FULLNAME", std::string(30, 'w')), 1000);
  EXPECT_EQ(s.Put("FULLNAME", "Person1"), 1000);

  // Narrowed to the longest value exactly: taken, and the new width holds for writes.
  EXPECT_EQ(change("FULLNAME", desc("FULLNAME", 'C', 0, 13)), 1000);
  EXPECT_EQ(s.Put("FULLNAME", std::string(14, 'w')), 4033);
  ASSERT_EQ(s.Read("2"), 1000);
  EXPECT_EQ(s.Get("FULLNAME", 13), "Second person");
  // Dates over values that all are dates (or empty): taken.
  ASSERT_EQ(s.Put("FULLNAME", "2024-02-29"), 1000);
  ASSERT_EQ(s.Read("1"), 1000);
  ASSERT_EQ(s.Put("FULLNAME", ""), 1000);
  EXPECT_EQ(change("FULLNAME", desc("FULLNAME", 'C', 'D', 10)), 1000);
  EXPECT_EQ(s.Put("FULLNAME", "2023-02-29"), 4033);
  ASSERT_EQ(s.Read("2"), 1000);
  EXPECT_EQ(s.Get("FULLNAME", 10), "2024-02-29");
}

// A transaction that has only read when another session commits writes afterwards all the
// same: it is not left answering busy until it is rolled back.
TEST_F(ServerData, ATransactionThatOnlyReadWritesAfterAnotherSessionsCommit) {
  RawSession a(port()), b(port());
  MakePeople(a, "SHOP", 2);
  b.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(a.Status(Opcode("BeginTransaction")), 1000);
  ASSERT_EQ(a.Read("1"), 1000);
  EXPECT_EQ(a.Get("NAME", 7), "Person1");
  ASSERT_EQ(b.Read("2"), 1000);
  ASSERT_EQ(b.Put("NAME", "Changed"), 1000);  // committed while a's transaction is open
  ASSERT_EQ(a.Read("1"), 1000);
  EXPECT_EQ(a.Put("NAME", "Mine"), 1000);
  ASSERT_EQ(a.Read("2"), 1000);
  EXPECT_EQ(a.Get("NAME", 7), "Changed");
  ASSERT_EQ(a.Status(Opcode("EndTransaction")), 1000);
  ASSERT_EQ(b.Read("1"), 1000);
  EXPECT_EQ(b.Get("NAME", 4), "Mine");
  ASSERT_EQ(b.Read("2"), 1000);
  EXPECT_EQ(b.Get("NAME", 7), "Changed");
  // A rolled-back transaction that wrote keeps nothing, retried or not.
  ASSERT_EQ(a.Status(Opcode("BeginTransaction")), 1000);
  ASSERT_EQ(a.Read("1"), 1000);
  ASSERT_EQ(a.Put("NAME", "Undone"), 1000);
  ASSERT_EQ(a.Status(Opcode("RollBack")), 1000);
  ASSERT_EQ(b.Read("1"), 1000);
  EXPECT_EQ(b.Get("NAME", 4), "Mine");
}

TEST_F(ServerData, TwoSessionsSeeEachOthersLocksAndOnlyCommittedWork) {
  RawSession a(port()), b(port());
  MakePeople(a, "SHOP", 2);
  b.Enter("SHOP", "PEOPLE");

  // A record lock taken while reading is seen by the other session and names its holder.
  ASSERT_EQ(a.Read("1", "L"), 1000);
  ASSERT_EQ(b.Read("1"), 1000);
  EXPECT_EQ(b.Put("NAME", "Intruder"), 4050);
  RawReply who = b.Full(Opcode("WhoLock"), {TextSlot(""), Bytes(33)});
  ASSERT_EQ(who.status, 1000);
  char expect[40];
  std::snprintf(expect, sizeof expect, "anonymous#%08X", a.handle());
  EXPECT_STREQ(reinterpret_cast<const char*>(who.slots[1].data()), expect);
  EXPECT_EQ(b.Read("1", "L"), 4050);
  EXPECT_EQ(a.Status(Opcode("RecUnLock"), {TextSlot("1")}), 1000);
  EXPECT_EQ(b.Put("NAME", "Allowed"), 1000);

  // Database locks: the other session's changes and locks are refused until released.
  EXPECT_EQ(a.Status(Opcode("DBLock"), {TextSlot("SHOP")}), 1000);
  EXPECT_EQ(b.Status(Opcode("DBIsLock"), {TextSlot("SHOP")}), 4052);
  EXPECT_EQ(a.Status(Opcode("DBIsLock"), {TextSlot("SHOP")}), 4056);
  EXPECT_EQ(b.Status(Opcode("AppendBlank")), 4052);
  EXPECT_EQ(b.Status(Opcode("DBLock"), {TextSlot("SHOP")}), 4052);
  EXPECT_EQ(b.Status(Opcode("DBUnLock"), {TextSlot("SHOP")}), 4053);  // only the holder unlocks
  EXPECT_EQ(a.Status(Opcode("DBUnLock"), {TextSlot("SHOP")}), 1000);
  EXPECT_EQ(b.Status(Opcode("DBIsLock"), {TextSlot("SHOP")}), 1000);

  // A table lock, released when its holder logs out.
  {
    RawSession c(port());
    c.Enter("SHOP", "PEOPLE");
    EXPECT_EQ(c.Status(Opcode("LockTable"), {TextSlot("PEOPLE")}), 1000);
    EXPECT_EQ(b.Status(Opcode("AppendBlank")), 4051);
  }
  EXPECT_EQ(b.Status(Opcode("AppendBlank")), 1000);

  // A transaction's changes stay invisible to the other session until committed.
  ASSERT_EQ(a.Read("2"), 1000);
  ASSERT_EQ(a.Status(Opcode("BeginTransaction")), 1000);
  RawReply tr = a.Full(Opcode("TRStatus"), {U32Slot(0)});
  EXPECT_EQ(wire::GetU32(tr.slots[0].data()), 1u);
  ASSERT_EQ(a.Put("NAME", "Pending"), 1000);
  ASSERT_EQ(b.Read("2"), 1000);
  EXPECT_EQ(b.Get("NAME", 7), "Person2");
  EXPECT_EQ(b.Put("NAME", "Clash"), 4054);  // the open transaction holds the write lock
  ASSERT_EQ(a.Status(Opcode("EndTransaction")), 1000);
  EXPECT_EQ(b.Get("NAME", 7), "Pending");
  EXPECT_EQ(a.Status(Opcode("EndTransaction")), 4060);

  // One rolled back: as if it never happened.
  ASSERT_EQ(a.Status(Opcode("BeginTransaction")), 1000);
  ASSERT_EQ(a.Put("NAME", "Ghost"), 1000);
  EXPECT_EQ(a.Get("NAME", 5), "Ghost");
  ASSERT_EQ(a.Status(Opcode("RollBack")), 1000);
  EXPECT_EQ(a.Get("NAME", 7), "Pending");
  EXPECT_EQ(b.Get("NAME", 7), "Pending");
}

TEST_F(ServerData, SqlScriptsStreamRowsAndReportErrors) {
  RawSession s(port());
  MakePeople(s, "SHOP", 3);
  // As the client sends it: '#', parameter values followed by a zero byte, a final zero.
  std::string script("#SELECT NAME, AGE FROM PEOPLE WHERE AGE > 21\0 ORDER BY AGE;\0", 59);
  ScriptRun r = Script(port(), s.handle(), script);
  EXPECT_EQ(r.status, 1000);
  EXPECT_EQ(r.records, (std::vector<std::string>{"Person2\t22\n", "Person3\t23\n"}));

  r = Script(port(), s.handle(), "UPDATE PEOPLE SET AGE = 50; SELECT count(*) FROM PEOPLE");
  EXPECT_EQ(r.status, 1000);
  EXPECT_EQ(r.records, (std::vector<std::string>{"3\n"}));

  r = Script(port(), s.handle(), "SELECT nonsense FROM nowhere");
  EXPECT_EQ(r.status, 4070);
  EXPECT_TRUE(r.records.empty());
  RawReply e = s.Full(Opcode("GetError"), {U32Slot(4070), Bytes(129)});
  // The engine's own words for a missing table.
  const char* missing = OnPostgres() ? "relation \"nowhere\" does not exist" : "no such table";
  EXPECT_NE(std::string(reinterpret_cast<const char*>(e.slots[1].data())).find(missing),
            std::string::npos);
}

TEST_F(ServerData, ExportImportAndDataSurvivingARestart) {
  {
    RawSession s(port());
    MakePeople(s, "SHOP", 4);
  }
  uint32_t h = LoginRaw(port());
  FileReply exp = Export(port(), h, "SHOP");
  ASSERT_EQ(exp.status, 1000);
  EXPECT_EQ(exp.file.rfind("SQLite format 3", 0), 0u);
  FileReply missing = Export(port(), h, "NONE");
  EXPECT_EQ(missing.status, 4011);
  EXPECT_TRUE(missing.file.empty());

  FileReply rep = Import(port(), h, "COPY", exp.file, "");
  ASSERT_EQ(rep.status, 1000);
  EXPECT_NE(rep.file.find("table PEOPLE: 4 records, 4 fields"), std::string::npos);
  EXPECT_EQ(Import(port(), h, "COPY", exp.file, "").status, 4012);
  EXPECT_EQ(Import(port(), h, "JUNK", "not a database at all", "").status, 4090);

  // Stop and start on the same data directory: the import is still there.
  Restart();
  RawSession s(port());
  s.Enter("COPY", "PEOPLE");
  ASSERT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Get("NAME", 7), "Person4");
  RawReply list = s.Full(Opcode("DataBase"), {U32Slot(5), Bytes(45)});
  EXPECT_EQ(wire::GetU32(list.slots[0].data()), 2u);
  EXPECT_STREQ(reinterpret_cast<const char*>(list.slots[1].data()), "COPY");
  EXPECT_STREQ(reinterpret_cast<const char*>(list.slots[1].data() + 9), "SHOP");
}

TEST_F(ServerData, UsersAndPrivilegesOnceDefined) {
  RawSession anon(port());
  MakePeople(anon, "SHOP", 1);
  // The first user is an administrator whatever its role says.
  ASSERT_EQ(anon.Status(Opcode("AddUser"), {TextSlot("boss"), TextSlot("secret"), TextSlot("")}),
            1000);
  // From now on logins are checked and the anonymous session has lost its rights.
  EXPECT_EQ(LoginRaw(port()), 0xFFFFFFFFu);
  EXPECT_EQ(LoginRaw(port(), "boss", "wrong"), 0xFFFFFFFFu);
  EXPECT_EQ(anon.Status(Opcode("AddUser"), {TextSlot("x"), TextSlot("y"), TextSlot("")}), 4005);
  RawSession boss(port(), "boss", "secret");
  ASSERT_TRUE(boss.loggedIn());
  ASSERT_EQ(boss.Status(Opcode("AddUser"), {TextSlot("clerk"), TextSlot("pw"), TextSlot("")}),
            1000);
  EXPECT_EQ(boss.Status(Opcode("AddUser"), {TextSlot("clerk"), TextSlot("pw"), TextSlot("")}),
            4081);

  RawSession clerk(port(), "clerk", "pw");
  ASSERT_TRUE(clerk.loggedIn());
  clerk.Enter("SHOP", "PEOPLE");
  EXPECT_EQ(clerk.Read("FIRST"), 4005);
  std::vector<Bytes> grant = {TextSlot("clerk"), TextSlot("SHOP"), TextSlot("PEOPLE"), TextSlot(""),
                              U32Slot(1)};
  ASSERT_EQ(boss.Status(Opcode("Grant"), grant), 1000);
  EXPECT_EQ(boss.Status(Opcode("IsAuthorizated"), grant), 1000);
  EXPECT_EQ(clerk.Read("FIRST"), 1000);
  EXPECT_EQ(clerk.Get("NAME", 7), "Person1");
  EXPECT_EQ(clerk.Put("NAME", "Changed"), 4005);  // read only
  grant[4] = U32Slot(2);
  EXPECT_EQ(boss.Status(Opcode("IsAuthorizated"), grant), 4005);
  ASSERT_EQ(boss.Status(Opcode("Grant"), grant), 1000);
  EXPECT_EQ(clerk.Put("NAME", "Changed"), 1000);
  ASSERT_EQ(boss.Status(Opcode("Revoke"), grant), 1000);
  EXPECT_EQ(clerk.Put("NAME", "Again"), 4005);
  // A clerk cannot manage users; the list shows both.
  EXPECT_EQ(clerk.Status(Opcode("DelUser"), {TextSlot("boss"), TextSlot(""), TextSlot("")}), 4005);
  RawReply users = clerk.Full(Opcode("GetUsers"), {TextSlot(""), U32Slot(4), Bytes(4 * 65)});
  EXPECT_EQ(wire::GetU32(users.slots[1].data()), 2u);
  EXPECT_STREQ(reinterpret_cast<const char*>(users.slots[2].data()), "boss");
  EXPECT_STREQ(reinterpret_cast<const char*>(users.slots[2].data() + 65), "clerk");
  EXPECT_EQ(
      boss.Full(Opcode("ValidUser"), {TextSlot("clerk"), TextSlot("pw"), TextSlot("")}).status,
      1000);
  EXPECT_EQ(
      boss.Full(Opcode("ValidUser"), {TextSlot("clerk"), TextSlot("no"), TextSlot("")}).status,
      4004);
}

}  // namespace
}  // namespace zdb::test

namespace zdb::test {
namespace {

TEST(ServerCatalogRequests, TablesAndDatabasesAreListedRenamedAndDeleted) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data");
  ASSERT_TRUE(server.running());
  RawSession s(server.port());
  MakePeople(s, "SHOP", 2);
  ASSERT_EQ(s.Status(Opcode("CreTable"),
                     {TextSlot("ORDERS"), TextSlot("ITEM C 10"), TextSlot(""), Bytes(113)}),
            1000);
  EXPECT_EQ(s.Status(Opcode("CreTable"),
                     {TextSlot("ORDERS"), TextSlot("ITEM C 10"), TextSlot(""), Bytes(113)}),
            4022);
  EXPECT_EQ(
      s.Status(Opcode("CreTable"), {TextSlot("BAD NAME"), TextSlot(""), TextSlot(""), Bytes(113)}),
      4023);
  RawReply list = s.Full(Opcode("DbTables"), {U32Slot(5), Bytes(5 * 33)});
  ASSERT_EQ(list.status, 1000);
  EXPECT_EQ(wire::GetU32(list.slots[0].data()), 2u);
  EXPECT_STREQ(reinterpret_cast<const char*>(list.slots[1].data()), "PEOPLE");
  EXPECT_STREQ(reinterpret_cast<const char*>(list.slots[1].data() + 33), "ORDERS");

  // The table record of the selected table: name, record and field counts.
  RawReply rec = s.Full(Opcode("GetTable record"), {Bytes(113)});
  EXPECT_STREQ(reinterpret_cast<const char*>(rec.slots[0].data()), "PEOPLE");
  EXPECT_EQ(wire::GetU32(rec.slots[0].data() + 97), 2u);
  EXPECT_EQ(wire::GetU32(rec.slots[0].data() + 101), 4u);

  // Renaming the selected table keeps it open and selected under its new name.
  ASSERT_EQ(s.Status(Opcode("Rename"), {TextSlot("PEOPLE"), TextSlot("FOLKS")}), 1000);
  RawReply cur = s.Full(Opcode("GetTable"), {Bytes(33)});
  EXPECT_STREQ(reinterpret_cast<const char*>(cur.slots[0].data()), "FOLKS");
  EXPECT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Status(Opcode("OpenTable"), {TextSlot("PEOPLE"), TextSlot(""), TextSlot("")}), 4021);
  ASSERT_EQ(s.Status(Opcode("DelTable"), {TextSlot("ORDERS"), U32Slot(0)}), 1000);
  EXPECT_EQ(s.Status(Opcode("DelTable"), {TextSlot("ORDERS"), U32Slot(0)}), 4021);

  // Counting and deleting databases: refused while another session has it in use.
  ASSERT_EQ(s.Status(Opcode("NewDB"),
                     {TextSlot("OTHER"), TextSlot(""), TextSlot(""), H16(0), TextSlot("")}),
            1000);
  RawReply num = s.Full(Opcode("NumDB"), {U32Slot(0), U32Slot(0)});
  EXPECT_EQ(wire::GetU32(num.slots[0].data()), 2u);
  EXPECT_EQ(wire::GetU32(num.slots[1].data()), 1u);
  {
    RawSession user(server.port());
    ASSERT_EQ(user.Status(Opcode("UseDB"), {TextSlot("SHOP")}), 1000);
    EXPECT_EQ(s.Status(Opcode("DelDB")), 4014);
  }
  ASSERT_EQ(s.Status(Opcode("DelDB")), 1000);
  EXPECT_EQ(s.Status(Opcode("UseDB"), {TextSlot("SHOP")}), 4011);
  RawReply db = s.Full(Opcode("GetDB"), {Bytes(9)});
  EXPECT_EQ(db.status, 4010);
  num = s.Full(Opcode("NumDB"), {U32Slot(0), U32Slot(0)});
  EXPECT_EQ(wire::GetU32(num.slots[0].data()), 1u);
}

}  // namespace
}  // namespace zdb::test
