// The requests around the tables: aliases, table backup and restore, two-field and table copies,
// table numbers and structures, field specs, creation by kind, expressions, the selector, the
// internal request and the user catalog on file.
#include <sys/stat.h>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerAroundTables = ServerFixture;

Bytes Padded(const std::string& text, size_t width) {
  Bytes b(width);
  std::memcpy(b.data(), text.data(), std::min(text.size(), width));
  return b;
}

TEST_F(ServerAroundTables, AliasesOpenATableUnderAnotherName) {
  RawSession s(port());
  MakePeople(s, "SHOP", 3);
  ASSERT_EQ(s.Status(Opcode("Alias"), Texts({"BUYERS", "PEOPLE", "people who buy"})), 1000);
  EXPECT_EQ(s.Status(Opcode("Alias"), Texts({"PEOPLE", "PEOPLE", ""})), 4022);
  EXPECT_EQ(s.Status(Opcode("Alias"), Texts({"OTHER", "NOPE", ""})), 4021);
  RawReply list = s.Full(Opcode("TableAlias"), {Bytes(3300), U32Slot(0)});
  ASSERT_EQ(list.status, 1000);
  EXPECT_EQ(wire::GetU32(list.slots[1].data()), 1u);
  EXPECT_EQ(TextAt(list.slots[0], 0), "BUYERS");
  EXPECT_EQ(TextAt(list.slots[0], 33), "PEOPLE");

  Restart();
  RawSession t(port());
  t.Enter("SHOP", "PEOPLE");
  // The alias is a second current record over the same table.
  ASSERT_EQ(t.Status(Opcode("OpenTable"), Texts({"BUYERS", "", ""})), 1000);
  ASSERT_EQ(t.Status(Opcode("SelTable"), Texts({"BUYERS", ""})), 1000);
  RawReply name = t.Full(Opcode("GetTable"), {Bytes(33)});
  EXPECT_EQ(TextAt(name.slots[0], 0), "BUYERS");
  ASSERT_EQ(t.Read("LAST"), 1000);
  EXPECT_EQ(t.Get("NAME", 7), "Person3");
  ASSERT_EQ(t.Status(Opcode("SelTable"), Texts({"PEOPLE", ""})), 1000);
  EXPECT_EQ(t.Get("NAME", 7), "Person1");
  RawReply fr =
      t.Full(Opcode("FRead"), {TextSlot("BUYERS"), TextSlot("NAME"), Bytes(7), U32Slot(7)});
  EXPECT_EQ(std::string(fr.slots[2].begin(), fr.slots[2].end()), "Person3");
  // A write through the alias lands in the table.
  EXPECT_EQ(t.Status(Opcode("FWrite"),
                     {TextSlot("BUYERS"), TextSlot("NAME"), TextSlot("Third"), U32Slot(5)}),
            1000);
  ASSERT_EQ(t.Read("LAST"), 1000);
  EXPECT_EQ(t.Get("NAME", 5), "Third");
  EXPECT_EQ(t.Status(Opcode("Alias"), Texts({"BUYERS", "", ""})), 1000);
  EXPECT_EQ(t.Status(Opcode("Alias"), Texts({"BUYERS", "", ""})), 4045);
  EXPECT_EQ(t.Status(Opcode("OpenTable"), Texts({"BUYERS", "", ""})),
            1000);  // still open as before
  EXPECT_EQ(t.Status(Opcode("CloseTable"), Texts({"BUYERS"})), 1000);
  EXPECT_EQ(t.Status(Opcode("OpenTable"), Texts({"BUYERS", "", ""})), 4021);
}

TEST_F(ServerAroundTables, AnAliasCarriesItsTablesPrivileges) {
  uint32_t first = LoginRaw(port());
  ASSERT_EQ(
      CallOnce(port(), 0x8001, Opcode("AddUser"), Texts({"ann", "pw", "ADMIN"}), first).status,
      1000);
  RawSession ann(port(), "ann", "pw");
  MakePeople(ann, "SHOP", 1);
  ASSERT_EQ(ann.Status(Opcode("Alias"), Texts({"BUYERS", "PEOPLE", ""})), 1000);
  ASSERT_EQ(ann.Status(Opcode("AddUser"), Texts({"cal", "pw", "USER"})), 1000);
  ASSERT_EQ(ann.Status(Opcode("Grant"), {TextSlot("cal"), TextSlot("SHOP"), TextSlot("PEOPLE"),
                                         TextSlot(""), U32Slot(1)}),
            1000);
  RawSession cal(port(), "cal", "pw");
  cal.Enter("SHOP", "BUYERS");
  EXPECT_EQ(cal.Read("FIRST"), 1000);  // read on PEOPLE is read on its alias
  EXPECT_EQ(cal.Put("NAME", "Nope"), 4005);
}

TEST_F(ServerAroundTables, TablesAreBackedUpRestoredAndCopied) {
  RawSession s(port());
  MakePeople(s, "SHOP", 3);
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'R', "0", "120")}),
            1000);
  ASSERT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("AGE"), TextSlot("18")}), 1000);
  ASSERT_EQ(s.Status(Opcode("BackupTable"), Texts({"PEOPLE", "people.bak"})), 1000);
  // A file of the data directory; over PostgreSQL the backup is kept there and no file is left.
  struct stat st {};
  EXPECT_EQ(::stat((data + "/backups/people.bak").c_str(), &st), OnPostgres() ? -1 : 0);
  EXPECT_EQ(s.Status(Opcode("BackupTable"), Texts({"PEOPLE", "../escape"})), 4091);
  EXPECT_EQ(s.Status(Opcode("RestoreTable"), Texts({"", "missing.bak"})), 4092);
  EXPECT_EQ(ErrorText(s, 4092), "Server file not found");

  // Changes after the backup are undone by the restore; its rules come back with it.
  ASSERT_EQ(s.Read("1"), 1000);
  ASSERT_EQ(s.Put("NAME", "Changed"), 1000);
  ASSERT_EQ(s.Status(Opcode("DelConstrain"), {TextSlot("AGE"), U32Slot(0)}), 1000);
  ASSERT_EQ(s.Status(Opcode("RestoreTable"), Texts({"", "people.bak"})), 1000);
  ASSERT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("NAME", 7), "Person1");
  EXPECT_EQ(s.Put("AGE", "200"), 4034);
  // Restored under another name: a new table with the same records and rules.
  ASSERT_EQ(s.Status(Opcode("RestoreTable"), Texts({"OLDPEOPLE", "people.bak"})), 1000);
  ASSERT_EQ(s.Status(Opcode("OpenTable"), Texts({"OLDPEOPLE", "", ""})), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), Texts({"OLDPEOPLE", ""})), 1000);
  ASSERT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Get("NAME", 7), "Person3");
  EXPECT_EQ(TextAt(s.Full(Opcode("GetDefaultValue"), {TextSlot("AGE"), Bytes(513)}).slots[1], 0),
            "18");

  // Two fields copied at once, whole or not at all.
  ASSERT_EQ(s.Status(Opcode("SelTable"), Texts({"PEOPLE", ""})), 1000);
  ASSERT_EQ(s.Read("2"), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), Texts({"OLDPEOPLE", ""})), 1000);
  ASSERT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(
      s.Status(Opcode("2CpyField"), Texts({"PEOPLE", "NAME", "AGE", "OLDPEOPLE", "NAME", "AGE"})),
      1000);
  EXPECT_EQ(s.Get("NAME", 7), "Person2");
  EXPECT_EQ(s.Get("AGE", 6), "22    ");
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'R', "50")}),
            1000);
  ASSERT_EQ(s.Read("3"), 1000);
  EXPECT_EQ(s.Status(Opcode("2CpyField"), Texts({"PEOPLE", "NAME", "AGE", "", "NAME", "AGE"})),
            4034);
  EXPECT_EQ(s.Get("NAME", 7), "Person3");  // the name did not move either

  // A whole table copied into a new one, then appended again; a refused record stops it all.
  ASSERT_EQ(s.Status(Opcode("FFCopy"), Texts({"PEOPLE", "ARCHIVE"})), 1000);
  ASSERT_EQ(s.Status(Opcode("FFCopy"), Texts({"PEOPLE", "ARCHIVE"})), 1000);
  ASSERT_EQ(s.Status(Opcode("OpenTable"), Texts({"ARCHIVE", "", ""})), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), Texts({"ARCHIVE", ""})), 1000);
  EXPECT_EQ(wire::GetU32(s.Full(Opcode("GetTable record"), {Bytes(113)}).slots[0].data() + 97), 6u);
  EXPECT_EQ(s.Status(Opcode("FFCopy"), Texts({"PEOPLE", "OLDPEOPLE"})), 4034);  // ages below 50
  ASSERT_EQ(s.Status(Opcode("SelTable"), Texts({"OLDPEOPLE", ""})), 1000);
  EXPECT_EQ(wire::GetU32(s.Full(Opcode("GetTable record"), {Bytes(113)}).slots[0].data() + 97), 3u);
}

TEST_F(ServerAroundTables, CatalogServicesAnswerWithRealValues) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  RawReply id = s.Full(Opcode("GetIDTable"), {TextSlot(""), TextSlot("PEOPLE"), Bytes(7)});
  ASSERT_EQ(id.status, 1000);
  EXPECT_EQ(TextAt(id.slots[2], 0), "000001");
  EXPECT_EQ(s.Full(Opcode("GetIDTable"), {TextSlot("SHOP"), TextSlot("NOPE"), Bytes(7)}).status,
            4021);

  RawReply st = s.Full(Opcode("Structure"), {Padded("PEOPLE", 64), Bytes(1500), U32Slot(0)});
  ASSERT_EQ(st.status, 1000);
  EXPECT_EQ(TextAt(st.slots[1], 0), "NAME C 20; AGE I 6; SALARY N 20; BORN C D 10");
  EXPECT_EQ(wire::GetU32(st.slots[2].data()), 4u);
  EXPECT_EQ(wire::GetU16(s.Full(Opcode("GetFsf"), {Bytes(2)}).slots[0].data()), 1);

  // A field spec is normalised, and with mode 1 becomes a table.
  RawReply spec = s.Full(Opcode("FsfToZdb"), {Padded("CODE c 5; PRICE n", 1500), U32Slot(1),
                                              U32Slot(0), TextSlot("GOODS")});
  ASSERT_EQ(spec.status, 1000);
  EXPECT_EQ(TextAt(spec.slots[0], 0), "CODE C 5; PRICE N 20");
  EXPECT_EQ(
      s.Full(Opcode("FsfToZdb"), {Padded("CODE Q", 1500), U32Slot(0), U32Slot(0), TextSlot("")})
          .status,
      4032);
  // Creation by kind: 1 a database, 2 a table; flag 1 accepts one that exists.
  EXPECT_EQ(s.Status(Opcode("Create"), {TextSlot("OTHER"), U32Slot(1), U32Slot(0)}), 1000);
  EXPECT_EQ(s.Status(Opcode("Create"), {TextSlot("OTHER"), U32Slot(1), U32Slot(0)}), 4012);
  EXPECT_EQ(s.Status(Opcode("Create"), {TextSlot("OTHER"), U32Slot(1), U32Slot(1)}), 1000);
  EXPECT_EQ(s.Status(Opcode("Create"), {TextSlot("EMPTY"), U32Slot(2), U32Slot(0)}), 1000);
  EXPECT_EQ(s.Status(Opcode("Create"), {TextSlot("X"), U32Slot(3), U32Slot(0)}), 4002);
  RawReply tables = s.Full(Opcode("DbTables"), {U32Slot(10), Bytes(330)});
  EXPECT_EQ(wire::GetU32(tables.slots[0].data()), 3u);  // PEOPLE, GOODS, EMPTY

  // Expressions over the current record.
  ASSERT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(s.Status(Opcode("ExpCheck"), Texts({"AGE > 20 AND NAME LIKE 'Person%'", ""})), 1000)
      << ErrorText(s, 4070);
  EXPECT_EQ(s.Status(Opcode("ExpCheck"), Texts({"AGE > 30", "PEOPLE"})), 4044);
  EXPECT_EQ(s.Status(Opcode("ExpCheck"), Texts({"1); DROP TABLE PEOPLE; --", ""})), 4070);
  EXPECT_EQ(s.Status(Opcode("ExpCheck"), Texts({"nonsense(", ""})), 4070);
  EXPECT_EQ(wire::GetU32(s.Full(Opcode("DbTables"), {U32Slot(10), Bytes(330)}).slots[0].data()),
            3u);

  // Where the session stands.
  RawReply sel = s.Full(Opcode("GetSelector"), {Bytes(508), Bytes(2)});
  ASSERT_EQ(sel.status, 1000);
  EXPECT_EQ(TextAt(sel.slots[0], 0), "SHOP");
  EXPECT_EQ(TextAt(sel.slots[0], 9), "PEOPLE");
  EXPECT_EQ(wire::GetU32(sel.slots[0].data() + 42), 1u);
  EXPECT_EQ(wire::GetU32(sel.slots[0].data() + 46), 2u);
  EXPECT_EQ(wire::GetU32(sel.slots[0].data() + 50), 1u);
  EXPECT_EQ(TextAt(sel.slots[0], 54), "PEOPLE");
  EXPECT_EQ(wire::GetU16(sel.slots[1].data()), 1);

  // The internal request: echo and statistics.
  RawReply echo = s.Full(Opcode("Internal"), {U32Slot(1), Padded("ping", 4), Bytes(8, 0xEE)});
  EXPECT_EQ(echo.slots[2], (Bytes{'p', 'i', 'n', 'g', 0, 0, 0, 0}));
  RawReply stats = s.Full(Opcode("Internal"), {U32Slot(2), Bytes(1), Bytes(200)});
  EXPECT_EQ(TextAt(stats.slots[2], 0).rfind("sessions=1\n", 0), 0u);
  EXPECT_EQ(s.Full(Opcode("Internal"), {U32Slot(9), Bytes(1), Bytes(1)}).status, 4002);
}

TEST_F(ServerAroundTables, UserCatalogGoesToAFileAndComesBack) {
  uint32_t first = LoginRaw(port());
  ASSERT_EQ(
      CallOnce(port(), 0x8001, Opcode("AddUser"), Texts({"ann", "pw", "ADMIN"}), first).status,
      1000);
  RawSession ann(port(), "ann", "pw");
  ASSERT_TRUE(ann.loggedIn());
  ASSERT_EQ(ann.Status(Opcode("AddUser"), Texts({"cal", "pw", "USER"})), 1000);
  ASSERT_EQ(ann.Status(Opcode("CFUsers"), {TextSlot("users.bak")}), 1000);
  ASSERT_EQ(ann.Status(Opcode("AddUser"), Texts({"bob", "pw", "USER"})), 1000);
  EXPECT_EQ(ann.Status(Opcode("DFUsers"), {TextSlot("nothing.bak")}), 4092);
  ASSERT_EQ(ann.Status(Opcode("DFUsers"), {TextSlot("users.bak")}), 1000);
  EXPECT_EQ(LoginRaw(port(), "bob", "pw"), wire::kNoSession);  // bob is gone again
  RawSession again(port(), "ann", "pw");
  EXPECT_TRUE(again.loggedIn());
  RawSession cal(port(), "cal", "pw");
  ASSERT_TRUE(cal.loggedIn());
  EXPECT_EQ(cal.Status(Opcode("CFUsers"), {TextSlot("x.bak")}), 4005);  // administrators only
}

}  // namespace
}  // namespace zdb::test
