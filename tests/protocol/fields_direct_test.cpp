#include <gtest/gtest.h>

#include <cstring>

#include "fields_fixture.h"
#include "requests/single_field.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using FieldsDirect = FieldsTest;
constexpr uint32_t kChoose = 0xFFFFFFFFu;

TEST_F(FieldsDirect, DirectCallsSendLeadingTextNameValueAndSize) {
  CacheTable({Def("WORD", 'C', ' ', 20), Def("DAY", 'C', 'D', 30), Def("N", 'I', ' ', 6),
              Def("AMT", 'N', ' ', 12)});
  char lead[] = "L1";
  char word[] = "WORD";
  char value[32] = "hello";

  ASSERT_EQ(ZDB_FWrite(lead, word, value, kChoose), 1000);
  Request r = Last();
  EXPECT_EQ(r.header.opcode, Opcode("FWrite"));
  EXPECT_EQ(r.header.kind, 1);
  EXPECT_EQ(r.header.flags, 0);
  ASSERT_EQ(r.header.paramCount, 4);
  EXPECT_EQ(r.slots[0], (Bytes{'L', '1', 0}));
  EXPECT_EQ(r.slots[1], (Bytes{'W', 'O', 'R', 'D', 0}));
  EXPECT_EQ(r.slots[2], (Bytes{'h', 'e', 'l', 'l', 'o'}));  // without its zero
  EXPECT_EQ(r.SlotU32(3), 5u);

  char day[] = "DAY";
  ASSERT_EQ(ZDB_FRead(lead, day, value, kChoose), 1000);
  EXPECT_EQ(Last().header.opcode, Opcode("FRead"));
  EXPECT_EQ(Last().slots[2].size(), 10u);
  char n[] = "N";
  ASSERT_EQ(ZDB_FRead(lead, n, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[2].size(), 2u);
  ASSERT_EQ(ZDB_FRead(lead, word, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[2].size(), 20u);
  char amt[] = "AMT";
  ASSERT_EQ(ZDB_FWrite(lead, amt, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[2].size(), 8u);
  ASSERT_EQ(ZDB_FWrite(lead, n, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[2].size(), 2u);
  // Every one of these came from the cache.
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("FWrite"), Opcode("FRead"), Opcode("FRead"),
                                 Opcode("FRead"), Opcode("FWrite"), Opcode("FWrite")}));

  // An explicit size is sent as it is, with no definition asked for.
  peer.ClearRecords();
  char other[] = "X.Y";
  ASSERT_EQ(ZDB_FWrite(lead, other, value, 3), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("FWrite")}));
  EXPECT_EQ(Last().slots[2], (Bytes{'h', 'e', 'l'}));
  EXPECT_EQ(Last().SlotU32(3), 3u);
}

TEST_F(FieldsDirect, DirectCallsReceiveTheReplyIntoEverySlot) {
  peer.OnOpcode(Opcode("FWrite"), [](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, 0);
    reply[SlotOffset(req, 0)] = 'Z';
    std::memcpy(reply.data() + SlotOffset(req, 2), "HEY", 3);
    return c.Write(reply);
  });
  ServeDescriptor(peer, 'C', ' ', 40, 40);
  char lead[] = "lead";
  char name[] = "T.F";
  char value[8] = "hey";
  ASSERT_EQ(ZDB_FWrite(lead, name, value, kChoose), 1000);
  // A qualified name costs the descriptor before the value.
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("GetField descriptor"), Opcode("FWrite")}));
  EXPECT_EQ(Last().slots[2].size(), 3u);
  EXPECT_STREQ(value, "HEY");
  EXPECT_STREQ(lead, "Zead");
}

TEST_F(FieldsDirect, DirectReadIntoTheLibrarysOwnBuffer) {
  CacheTable({Def("CODE", 'C', ' ', 3)});
  peer.OnOpcode(Opcode("FRead"), [](const Request& req, PeerConnection& c) {
    return ReplyWithSlot(req, c, 2, Bytes{'x', 'y', 'z'});
  });
  char lead[] = "";
  char name[] = "CODE";
  const uint32_t before = fields::GetFieldBuffer().size();
  ASSERT_EQ(ZDB_FRead(lead, name, nullptr, 0xFFFFFFFEu), 1000);
  uint8_t got[8] = {};
  ASSERT_EQ(tables::FReadBuffer().CopyOut(got, sizeof got), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 3), "xyz");
  EXPECT_EQ(fields::GetFieldBuffer().size(), before);
  // Writing has no library buffer: -2 is a size like any other and is refused as one.
  EXPECT_EQ(ZDB_FWrite(lead, name, got, 0xFFFFFFFEu), 2003);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("FRead")}));
}

}  // namespace
}  // namespace zdb::test
