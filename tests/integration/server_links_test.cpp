// Cross references checked on write and delete, with their three delete rules; index field lists
// and index listings; both kept across a restart.
#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerLinks = ServerFixture;

std::vector<Bytes> With(std::vector<Bytes> slots, Bytes extra) {
  slots.push_back(std::move(extra));
  return slots;
}

// SHOP with PEOPLE (Person1, Person2) and ORDERS (ITEM, WHO, PID), ORDERS open and selected.
void MakeShop(RawSession& s) {
  MakePeople(s, "SHOP", 2);
  ASSERT_EQ(
      s.Status(Opcode("CreTable"), {TextSlot("ORDERS"), TextSlot("ITEM C 10; WHO C 20; PID I"),
                                    TextSlot(""), Bytes(113)}),
      1000);
  ASSERT_EQ(s.Status(Opcode("OpenTable"), {TextSlot("ORDERS"), TextSlot(""), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("ORDERS"), TextSlot("")}), 1000);
}

// An I field takes its value as 2 bytes.
int32_t PutPid(RawSession& s, uint16_t pid) {
  return s.Status(Opcode("PutField"), {TextSlot("PID"), H16(pid), U32Slot(2)});
}

int32_t Order(RawSession& s, const std::string& who, uint16_t pid) {
  if (int32_t rc = s.Status(Opcode("AppendBlank")); rc != 1000) return rc;
  if (int32_t rc = s.Put("WHO", who); rc != 1000) return rc;
  return pid ? PutPid(s, pid) : 1000;
}

TEST_F(ServerLinks, CrossReferencesAreCheckedOnWriteAndDelete) {
  RawSession s(port());
  MakeShop(s);
  ASSERT_EQ(s.Status(Opcode("AddFXREF"),
                     Texts({"BUYER", "ORDERS", "WHO", "PEOPLE", "NAME", "cascade", "who"})),
            1000);
  ASSERT_EQ(s.Status(Opcode("AddTXREF"), Texts({"OWNER", "", "PID", "PEOPLE", "", "NULLIFY", ""})),
            1000);
  EXPECT_EQ(s.Status(Opcode("AddFXREF"),
                     Texts({"BAD", "ORDERS", "WHO", "PEOPLE", "NAME", "SOMETIMES", ""})),
            4002);
  EXPECT_EQ(s.Status(Opcode("AddFXREF"), Texts({"BAD", "ORDERS", "WHO", "PEOPLE", "NOPE", "", ""})),
            4030);
  EXPECT_EQ(
      s.Status(Opcode("AddFXREF"), Texts({"BUYER", "ORDERS", "ITEM", "PEOPLE", "NAME", "", ""})),
      4043);

  // Writes must point at something; empty values point nowhere and are allowed.
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  EXPECT_EQ(s.Put("WHO", "Nobody"), 4037);
  EXPECT_EQ(PutPid(s, 9), 4037);
  EXPECT_EQ(s.Put("WHO", "Person1"), 1000);
  EXPECT_EQ(s.Put("WHO", ""), 1000);
  EXPECT_EQ(PutPid(s, 2), 1000);
  ASSERT_EQ(s.Put("ITEM", "kept"), 1000);
  ASSERT_EQ(Order(s, "Person1", 1), 1000);
  EXPECT_EQ(ErrorText(s, 4037), "Value has no matching record in the referenced table");
  EXPECT_EQ(s.Status(Opcode("XRefTest"), {TextSlot("ORDERS"), TextSlot("")}), 1000);

  // Listings: by field, by table, by ends, by name.
  RawReply from =
      s.Full(Opcode("XRefFromField"), {TextSlot("ORDERS.WHO"), Bytes(29700), U32Slot(0)});
  ASSERT_EQ(from.status, 1000);
  EXPECT_EQ(wire::GetU32(from.slots[2].data()), 1u);
  EXPECT_EQ(TextAt(from.slots[1], 0), "BUYER");
  EXPECT_EQ(from.slots[1][33], 'F');
  EXPECT_EQ(TextAt(from.slots[1], 100), "PEOPLE");
  EXPECT_EQ(TextAt(from.slots[1], 133), "NAME");
  EXPECT_EQ(TextAt(from.slots[1], 166), "CASCADE");
  RawReply to = s.Full(Opcode("XRefToField"), {TextSlot("PEOPLE."), Bytes(29700), U32Slot(0)});
  EXPECT_EQ(wire::GetU32(to.slots[2].data()), 1u);
  EXPECT_EQ(TextAt(to.slots[1], 0), "OWNER");
  RawReply tx =
      s.Full(Opcode("GetTXREF"), With(Texts({"ORDERS", "PID", "PEOPLE", ""}), Bytes(297)));
  EXPECT_EQ(TextAt(tx.slots[4], 0), "OWNER");
  EXPECT_EQ(s.Full(Opcode("GetFXREF"), With(Texts({"ORDERS", "PID", "PEOPLE", "NAME"}), Bytes(297)))
                .status,
            4039);
  RawReply refFrom = s.Full(Opcode("TBRefFrom"), {Bytes(3304)});
  EXPECT_EQ(wire::GetU32(refFrom.slots[0].data()), 1u);
  EXPECT_EQ(TextAt(refFrom.slots[0], 4), "PEOPLE");
  RawReply info = s.Full(Opcode("GetXRef"), {TextSlot("BUYER"), Bytes(671)});
  ASSERT_EQ(info.status, 1000);
  EXPECT_EQ(wire::GetU32(info.slots[1].data() + 297), 1u);  // orders pointing somewhere
  EXPECT_EQ(wire::GetU32(info.slots[1].data() + 301), 0u);  // none dangling

  // The referenced side: a key in use cannot change; deletes follow each rule.
  ASSERT_EQ(s.Status(Opcode("OpenTable"), {TextSlot("PEOPLE"), TextSlot(""), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("PEOPLE"), TextSlot("")}), 1000);
  RawReply refTo = s.Full(Opcode("TBRefTo"), {Bytes(3304)});
  EXPECT_EQ(TextAt(refTo.slots[0], 4), "ORDERS");
  ASSERT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(s.Put("NAME", "Renamed"), 4038);
  EXPECT_EQ(s.Status(Opcode("Delete"), {TextSlot("2")}),
            1000);  // NULLIFY: order 1 stays, loses its PID
  EXPECT_EQ(s.Status(Opcode("Delete"), {TextSlot("1")}),
            1000);  // CASCADE: order 2 goes with Person1
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("ORDERS"), TextSlot("")}), 1000);
  ASSERT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("ITEM", 4), "kept");
  EXPECT_EQ(s.Full(Opcode("IsNull"), {TextSlot("PID"), Bytes(2)}).slots[1],
            (Bytes{1, 0}));         // nullified
  EXPECT_EQ(s.Read("NEXT"), 4042);  // the other order cascaded away

  // RESTRICT refuses deletes and clears, and survives a restart.
  ASSERT_EQ(s.Status(Opcode("DelXREF"), {TextSlot("BUYER")}), 1000);
  EXPECT_EQ(s.Status(Opcode("DelXREF"), {TextSlot("BUYER")}), 4039);
  ASSERT_EQ(
      s.Status(Opcode("AddFXREF"), Texts({"KEEP", "ORDERS", "WHO", "PEOPLE", "NAME", "", ""})),
      1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("PEOPLE"), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  ASSERT_EQ(s.Put("NAME", "Person2"), 1000);
  ASSERT_EQ(s.Status(Opcode("SelTable"), {TextSlot("ORDERS"), TextSlot("")}), 1000);
  ASSERT_EQ(s.Put("WHO", "Person2"), 1000);
  Restart();
  RawSession t(port());
  t.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(t.Read("FIRST"), 1000);
  EXPECT_EQ(t.Get("NAME", 7), "Person2");
  EXPECT_EQ(t.Status(Opcode("Delete"), {TextSlot("")}), 4038);
  EXPECT_EQ(t.Status(Opcode("ClearTable"), {TextSlot(""), H16(0)}), 4038);
  EXPECT_EQ(ErrorText(t, 4038), "Record is still referenced by another table");
  ASSERT_EQ(t.Status(Opcode("OpenTable"), {TextSlot("ORDERS"), TextSlot(""), TextSlot("")}), 1000);
  ASSERT_EQ(t.Status(Opcode("SelTable"), {TextSlot("ORDERS"), TextSlot("")}), 1000);
  EXPECT_EQ(Order(t, "Ghost", 0), 4037);
  EXPECT_EQ(t.Status(Opcode("DelFXREF"), Texts({"ORDERS", "WHO", "PEOPLE", "NAME"})), 1000);
  EXPECT_EQ(t.Status(Opcode("DelTXREF"), Texts({"ORDERS", "PID", "PEOPLE", ""})), 1000);
  EXPECT_EQ(t.Status(Opcode("DelTXREF"), Texts({"ORDERS", "PID", "PEOPLE", ""})), 4039);
  EXPECT_EQ(t.Put("WHO", "Ghost"), 1000);  // no reference left to check
  // A reference that the data already breaks cannot be added, and the test names it.
  EXPECT_EQ(
      t.Status(Opcode("AddFXREF"), Texts({"AGAIN", "ORDERS", "WHO", "PEOPLE", "NAME", "", ""})),
      4037);
}

TEST_F(ServerLinks, IndexesHaveFieldListsAndAreListed) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  ASSERT_EQ(s.Status(Opcode("CreateIndex"), {TextSlot("BYNAME"), TextSlot(""), TextSlot("NAME")}),
            1000);
  EXPECT_EQ(s.Status(Opcode("CreateIndex"), {TextSlot("BYNAME"), TextSlot(""), TextSlot("NAME")}),
            4025);
  EXPECT_EQ(ErrorText(s, 4025), "Index already exists");
  ASSERT_EQ(s.Status(Opcode("AddIFields"), {TextSlot("BYNAME"), TextSlot("AGE, BORN"), U32Slot(0)}),
            1000);
  EXPECT_EQ(s.Status(Opcode("AddIFields"), {TextSlot("BYNAME"), TextSlot("NOPE"), U32Slot(0)}),
            4030);
  RawReply f = s.Full(Opcode("IndexFields"), {TextSlot("BYNAME"), U32Slot(0), Bytes(3900)});
  ASSERT_EQ(f.status, 1000);
  EXPECT_EQ(wire::GetU32(f.slots[1].data()), 3u);
  EXPECT_EQ(TextAt(f.slots[2], 0), "NAME");
  EXPECT_EQ(TextAt(f.slots[2], 33), "AGE");
  EXPECT_EQ(TextAt(f.slots[2], 66), "BORN");
  ASSERT_EQ(s.Status(Opcode("DelIFields"), {TextSlot("BYNAME"), TextSlot("NAME,BORN")}), 1000);
  EXPECT_EQ(s.Status(Opcode("DelIFields"), {TextSlot("BYNAME"), TextSlot("NAME")}), 4030);
  ASSERT_EQ(s.Status(Opcode("UpdIFields"), {TextSlot("UNIQ"), TextSlot("NAME"), U32Slot(1)}), 1000);
  RawReply all = s.Full(Opcode("TableIndex"), {U32Slot(0), Bytes(3600)});
  ASSERT_EQ(all.status, 1000);
  EXPECT_EQ(wire::GetU32(all.slots[0].data()), 2u);
  EXPECT_EQ(TextAt(all.slots[1], 0), "BYNAME");
  EXPECT_EQ(all.slots[1][33], 0);
  EXPECT_EQ(wire::GetU16(all.slots[1].data() + 34), 1);
  EXPECT_EQ(TextAt(all.slots[1], 36), "UNIQ");
  EXPECT_EQ(all.slots[1][36 + 33], 1);
  // A unique index refuses duplicates like a constraint does.
  ASSERT_EQ(s.Read("2"), 1000);
  EXPECT_EQ(s.Put("NAME", "Person1"), 4034);
  EXPECT_EQ(s.Full(Opcode("GetIndex"), {TextSlot("NOPE"), Bytes(36)}).status, 4026);
  EXPECT_EQ(s.Status(Opcode("EraseIndex"), {TextSlot("NOPE")}), 4026);
  EXPECT_EQ(ErrorText(s, 4026), "Index not found");

  Restart();
  RawSession t(port());
  t.Enter("SHOP", "PEOPLE");
  RawReply one = t.Full(Opcode("GetIndex"), {TextSlot("PEOPLE.BYNAME"), Bytes(36)});
  ASSERT_EQ(one.status, 1000);
  EXPECT_EQ(wire::GetU16(one.slots[1].data() + 34), 1);
  // Deleting an indexed field takes its indexes with it.
  ASSERT_EQ(t.Status(Opcode("DelField"), {TextSlot("AGE")}), 1000);
  EXPECT_EQ(t.Full(Opcode("GetIndex"), {TextSlot("BYNAME"), Bytes(36)}).status, 4026);
  EXPECT_EQ(t.Status(Opcode("EraseIndex"), {TextSlot("UNIQ")}), 1000);
  EXPECT_EQ(wire::GetU32(t.Full(Opcode("TableIndex"), {U32Slot(0), Bytes(3600)}).slots[0].data()),
            0u);
}

}  // namespace
}  // namespace zdb::test
