// Constraints and default values: stored per table, enforced on every write path, kept across a
// restart; memo and binary fields without a width.
#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerRules = ServerFixture;

int16_t AgeOf(RawSession& s) {
  std::string v = s.Get("AGE", 2);
  return static_cast<int16_t>(wire::GetU16(reinterpret_cast<const uint8_t*>(v.data())));
}

uint32_t RecordCount(RawSession& s) {
  RawReply r = s.Full(Opcode("GetTable record"), {Bytes(113)});
  return r.ok ? wire::GetU32(r.slots[0].data() + 97) : 0;
}

TEST_F(ServerRules, ConstraintsAreStoredListedAndEnforcedOnEveryWritePath) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  // The field comes from the record when the text is empty; numbers are handed out in order.
  ASSERT_EQ(s.Status(Opcode("AddConstrain"),
                     {TextSlot(""), Constraint("AGE", 0, 'R', "18", "65", "adults")}),
            1000);
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("NAME"), Constraint("", 0, 'U')}), 1000);
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("PEOPLE.NAME"), Constraint("", 0, 'M')}),
            1000);
  EXPECT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'X')}), 4032);
  EXPECT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'R', "abc")}),
            4032);
  EXPECT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("NOPE"), Constraint("", 0, 'M')}), 4030);

  RawReply list = s.Full(Opcode("FieldConstrain"), {TextSlot("NAME"), U32Slot(0), Bytes(250)});
  ASSERT_EQ(list.status, 1000);
  EXPECT_EQ(wire::GetU32(list.slots[1].data()), 2u);
  EXPECT_EQ(wire::GetU16(list.slots[2].data()), 2);
  EXPECT_EQ(wire::GetU16(list.slots[2].data() + 2), 3);
  RawReply rec = s.Full(Opcode("GetConstrain"), {TextSlot("AGE"), H16(1), Bytes(364)});
  ASSERT_EQ(rec.status, 1000);
  EXPECT_EQ(TextAt(rec.slots[2], 0), "AGE");
  EXPECT_EQ(rec.slots[2][35], 'R');
  EXPECT_EQ(TextAt(rec.slots[2], 36), "18");
  EXPECT_EQ(TextAt(rec.slots[2], 164), "65");
  EXPECT_EQ(TextAt(rec.slots[2], 292), "adults");
  EXPECT_EQ(s.Full(Opcode("GetConstrain"), {TextSlot("AGE"), H16(9), Bytes(364)}).status, 4035);

  ASSERT_EQ(s.Read("1"), 1000);
  // PutField, in both value forms.
  EXPECT_EQ(s.Put("AGE", "70"), 4034);
  EXPECT_EQ(s.Status(Opcode("PutField"), {TextSlot("AGE"), H16(10), U32Slot(2)}), 4034);
  EXPECT_EQ(s.Put("AGE", "30"), 1000);
  EXPECT_EQ(AgeOf(s), 30);
  EXPECT_EQ(s.Put("NAME", "Person2"), 4034);  // unique
  EXPECT_EQ(s.Put("NAME", ""), 4034);         // mandatory
  EXPECT_EQ(s.Put("NAME", "Person1"), 1000);  // its own value again is fine
  // FWrite names the table.
  EXPECT_EQ(
      s.Status(Opcode("FWrite"), {TextSlot("PEOPLE"), TextSlot("AGE"), TextSlot("99"), U32Slot(2)}),
      4034);
  // CpyField converts through text and is checked like a put.
  ASSERT_EQ(s.Put("SALARY", "1000"), 1000);
  EXPECT_EQ(s.Status(Opcode("CpyField"),
                     {TextSlot(""), TextSlot("SALARY"), TextSlot(""), TextSlot("AGE")}),
            4034);
  EXPECT_EQ(AgeOf(s), 30);
  // Whole records: MatPutFields and PutWrite.
  std::vector<std::pair<std::string, uint32_t>> f = {{"NAME", 20}, {"AGE", 6}};
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("MatPutFields"),
                     {Defs(f), Values(f, {"Someone", "10"})}, s.handle())
                .status,
            4034);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("MatPutFields"),
                     {Defs(f), Values(f, {"Someone", "40"})}, s.handle())
                .status,
            1000);
  EXPECT_EQ(AgeOf(s), 40);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("PutWrite"), {Defs(f), Values(f, {"Person2", "40"})},
                     s.handle())
                .status,
            4034);
  EXPECT_EQ(RecordCount(s), 2u);

  // A changed constraint applies at once; a deleted one no longer.
  EXPECT_EQ(s.Status(Opcode("UpdConstrain"), {TextSlot("AGE"), Constraint("", 1, 'R', "0", "100")}),
            1000);
  EXPECT_EQ(s.Status(Opcode("UpdConstrain"), {TextSlot("AGE"), Constraint("", 7, 'R', "0", "100")}),
            4035);
  EXPECT_EQ(s.Put("AGE", "70"), 1000);
  EXPECT_EQ(s.Status(Opcode("AddConstrain"),
                     {TextSlot("BORN"), Constraint("", 0, 'L', "2000-01-01, 2000-01-02")}),
            1000);
  EXPECT_EQ(s.Put("BORN", "2000-01-03"), 4034);
  EXPECT_EQ(s.Put("BORN", "2000-01-02"), 1000);
  EXPECT_EQ(s.Status(Opcode("DelConstrain"), {TextSlot("BORN"), U32Slot(4)}), 1000);
  EXPECT_EQ(s.Status(Opcode("DelConstrain"), {TextSlot("BORN"), U32Slot(4)}), 4035);
  EXPECT_EQ(s.Put("BORN", "2000-01-03"), 1000);
  EXPECT_EQ(ErrorText(s, 4034), "Value refused by a constraint of the field");

  // After a restart the constraints are still there and still enforced.
  Restart();
  RawSession t(port());
  t.Enter("SHOP", "PEOPLE");
  EXPECT_EQ(t.Full(Opcode("GetConstrain"), {TextSlot("AGE"), H16(1), Bytes(364)}).slots[2][35],
            'R');
  ASSERT_EQ(t.Read("2"), 1000);
  EXPECT_EQ(t.Put("AGE", "101"), 4034);
  EXPECT_EQ(t.Put("NAME", "Someone"), 4034);  // record 1 holds it since MatPutFields
}

TEST_F(ServerRules, DefaultsFillNewRecordsAndObeyTheRules) {
  RawSession s(port());
  MakePeople(s, "SHOP", 1);
  EXPECT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("AGE"), TextSlot("33")}), 1000);
  EXPECT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("AGE"), TextSlot("x")}),
            4033);  // not an integer
  EXPECT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("BORN"), TextSlot("1999-1-1")}), 4033);
  RawReply d = s.Full(Opcode("GetDefaultValue"), {TextSlot("AGE"), Bytes(513)});
  ASSERT_EQ(d.status, 1000);
  EXPECT_EQ(TextAt(d.slots[1], 0), "33");
  RawReply none = s.Full(Opcode("GetDefaultValue"), {TextSlot("SALARY"), Bytes(513, 'x')});
  EXPECT_EQ(none.status, 4036);
  EXPECT_EQ(none.slots[1][0], 0);

  // AppendBlank fills the default; fields without one stay null.
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  EXPECT_EQ(AgeOf(s), 33);
  EXPECT_EQ(s.Full(Opcode("IsNull"), {TextSlot("NAME"), Bytes(2)}).slots[1], (Bytes{1, 0}));
  // PutWrite fills the fields it does not list.
  std::vector<std::pair<std::string, uint32_t>> f = {{"NAME", 20}};
  ASSERT_EQ(
      CallOnce(port(), 0x0001, Opcode("PutWrite"), {Defs(f), Values(f, {"Listed"})}, s.handle())
          .status,
      1000);
  EXPECT_EQ(AgeOf(s), 33);
  EXPECT_EQ(s.Get("NAME", 6), "Listed");

  // A default that breaks a constraint makes appends fail whole: no record appears.
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'R', "40")}),
            1000);
  uint32_t before = RecordCount(s);
  EXPECT_EQ(s.Status(Opcode("AppendBlank")), 4034);
  EXPECT_EQ(RecordCount(s), before);

  Restart();
  RawSession t(port());
  t.Enter("SHOP", "PEOPLE");
  EXPECT_EQ(TextAt(t.Full(Opcode("GetDefaultValue"), {TextSlot("AGE"), Bytes(513)}).slots[1], 0),
            "33");
  EXPECT_EQ(t.Status(Opcode("DelDefaultValue"), {TextSlot("AGE")}), 1000);
  EXPECT_EQ(t.Status(Opcode("DelDefaultValue"), {TextSlot("AGE")}), 4036);
  ASSERT_EQ(t.Status(Opcode("AppendBlank")), 1000);
  EXPECT_EQ(t.Full(Opcode("IsNull"), {TextSlot("AGE"), Bytes(2)}).slots[1], (Bytes{1, 0}));
}

TEST_F(ServerRules, MemoAndBinaryFieldsNeedNoWidth) {
  RawSession s(port());
  MakePeople(s, "SHOP", 0);
  ASSERT_EQ(s.Status(Opcode("CreTable"),
                     {TextSlot("NOTES"), TextSlot("TEXT C M; DATA C B"), TextSlot(""), Bytes(113)}),
            1000);
  ASSERT_EQ(s.Status(Opcode("OpenTable"), {TextSlot("NOTES"), TextSlot(""), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("NOTES"), TextSlot("")}), 1000);
  RawReply d = s.Full(Opcode("GetField descriptor"), {TextSlot("TEXT"), Bytes{'*'}, Bytes(132)});
  ASSERT_EQ(d.status, 1000);
  EXPECT_EQ(d.slots[2][99], 'M');
  EXPECT_EQ(wire::GetU32(d.slots[2].data() + 101), 255u);
  EXPECT_EQ(wire::GetU32(d.slots[2].data() + 105), 255u);
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  std::string longText(1000, 'm');
  EXPECT_EQ(s.Put("TEXT", longText), 1000);  // a memo holds more than its nominal width
  EXPECT_EQ(s.Get("TEXT", 1001).substr(0, 1000), longText);
  Bytes blob = {1, 0, 2, 0, 3};
  EXPECT_EQ(s.Status(Opcode("PutField"), {TextSlot("DATA"), blob, U32Slot(5)}), 1000);
  EXPECT_EQ(s.Get("DATA", 5), std::string("\x01\x00\x02\x00\x03", 5));
}

}  // namespace
}  // namespace zdb::test
