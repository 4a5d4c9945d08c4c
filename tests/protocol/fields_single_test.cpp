#include <gtest/gtest.h>

#include <cstring>

#include "fields_fixture.h"
#include "requests/single_field.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using FieldsSingle = FieldsTest;
constexpr uint32_t kChoose = 0xFFFFFFFFu;

struct SizeCase {
  char type;
  char subtype;
  uint32_t width;
  uint32_t readSize;   // what ZDB_GetField receives with -1
  uint32_t writeSize;  // what ZDB_PutField sends with -1 for the value "abc"
};

// Each row written from the rules' order: numbers first, then the 2-byte integer, then the
// subtypes, then the width.
const SizeCase kCachedCases[] = {
    {'N', ' ', 30, 8, 8},   {'N', 'D', 30, 8, 8},  {'N', 'M', 30, 8, 8},  {'C', 'N', 30, 8, 8},
    {'I', 'D', 30, 2, 2},   {'I', 'M', 30, 2, 2},  {'I', 'N', 30, 2, 2},  {'C', 'D', 30, 10, 4},
    {'C', 'M', 30, 256, 4}, {'C', 'B', 3, 256, 4}, {'X', 'D', 30, 10, 4}, {'X', 'B', 30, 256, 4},
    {'C', 'Z', 20, 20, 4},  {'C', ' ', 7, 7, 4},   {'L', ' ', 1, 1, 4},   {'D', 'N', 12, 12, 4},
};

TEST_F(FieldsSingle, SizeRulesFromTheCachedDefinitionCostOneExchangeEach) {
  for (const SizeCase& c : kCachedCases) {
    SCOPED_TRACE(std::string{"type "} + c.type + " subtype " + c.subtype);
    CacheTable({Def("PRICE", c.type, c.subtype, c.width)});
    peer.ClearRecords();
    char name[] = "PRICE";
    std::vector<uint8_t> value(300, 0xAA);
    ASSERT_EQ(ZDB_GetField(name, value.data(), kChoose), 1000);
    const char text[16] = "abc";  // room for the 8 bytes a number sends
    ASSERT_EQ(ZDB_PutField("PRICE", text, kChoose), 1000);
    ASSERT_EQ(ZDB_TestField("PRICE", text, kChoose), 1000);
    ASSERT_EQ(peer.opcodes(), (Ops{Opcode("GetField"), Opcode("PutField"), Opcode("TestField")}));
    const auto reqs = peer.requests();
    EXPECT_EQ(reqs[0].slots[1].size(), c.readSize);
    EXPECT_EQ(reqs[0].SlotU32(2), c.readSize);
    for (int i : {1, 2}) {
      EXPECT_EQ(reqs[static_cast<size_t>(i)].slots[1].size(), c.writeSize);
      EXPECT_EQ(reqs[static_cast<size_t>(i)].SlotU32(2), c.writeSize);
    }
    // The echoed value lands in exactly the chosen number of bytes; nothing is appended.
    EXPECT_EQ(value[c.readSize], 0xAA);
  }
}

TEST_F(FieldsSingle, DescriptorWidthsChooseByType) {
  // A descriptor carries two widths: text fields take the first, all others the second.
  char name[] = "T.F";
  uint8_t value[64];
  ServeDescriptor(peer, 'C', ' ', 5, 9);
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[1].size(), 5u);
  ServeDescriptor(peer, 'X', ' ', 5, 9);
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[1].size(), 9u);
  ServeDescriptor(peer, 'C', 'N', 5, 9);
  ASSERT_EQ(ZDB_PutField(name, value, kChoose), 1000);
  EXPECT_EQ(Last().slots[1].size(), 8u);
  // The descriptor request names the field and sends the one-byte wildcard.
  const auto reqs = peer.requests();
  ASSERT_EQ(reqs[0].header.opcode, Opcode("GetField descriptor"));
  EXPECT_EQ(reqs[0].slots[0], (Bytes{'T', '.', 'F', 0}));
  EXPECT_EQ(reqs[0].slots[1], (Bytes{'*'}));
  EXPECT_EQ(reqs[0].slots[2].size(), 132u);
}

TEST_F(FieldsSingle, ExchangesPerCallFollowWhereTheDefinitionComesFrom) {
  uint8_t value[64];
  char name[] = "PRICE";
  ServeDescriptor(peer, 'I', ' ', 0, 0);

  // No table selected: the server's definitions, then the value.
  ServeDefinitions(peer, {Def("PRICE", 'N', ' ', 10)});
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("InfoFields"), Opcode("GetField")}));
  EXPECT_EQ(peer.requests()[0].SlotText(0), "PRICE");
  EXPECT_EQ(Last().slots[1].size(), 8u);

  // The server knows no such field: definitions, descriptor, value.
  peer.ClearRecords();
  ServeDefinitions(peer, {}, 2013);
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(peer.opcodes(),
            (Ops{Opcode("InfoFields"), Opcode("GetField descriptor"), Opcode("GetField")}));
  EXPECT_EQ(Last().slots[1].size(), 2u);

  // Cached: the value alone; missing from the cache: descriptor and value.
  CacheTable({Def("PRICE", 'C', ' ', 12)});
  peer.ClearRecords();
  ASSERT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  char other[] = "STOCK";
  ASSERT_EQ(ZDB_GetField(other, value, kChoose), 1000);
  EXPECT_EQ(peer.opcodes(),
            (Ops{Opcode("GetField"), Opcode("GetField descriptor"), Opcode("GetField")}));
  EXPECT_EQ(peer.requests()[0].slots[1].size(), 12u);
  EXPECT_EQ(peer.requests()[2].slots[1].size(), 2u);

  // A qualified name never consults the cache, even one that holds a field of that very name.
  CacheTable({Def("ITEMS.PRICE", 'C', ' ', 12)});
  peer.ClearRecords();
  char qualified[] = "ITEMS.PRICE";
  ASSERT_EQ(ZDB_PutField(qualified, "xy", kChoose), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("GetField descriptor"), Opcode("PutField")}));

  // An explicit size consults nothing.
  peer.ClearRecords();
  ASSERT_EQ(ZDB_PutField("ANY", "xyz", 0), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("PutField")}));
  EXPECT_TRUE(Last().slots[1].empty());
  EXPECT_EQ(Last().SlotU32(2), 0u);
}

TEST_F(FieldsSingle, FailingDescriptorEndsTheCallWithItsCode) {
  uint8_t value[8] = {};
  char name[] = "GONE";
  ServeDefinitions(peer, {}, 2013);
  ServeDescriptor(peer, 'C', ' ', 4, 4, 2044);
  EXPECT_EQ(ZDB_GetField(name, value, kChoose), 2044);
  EXPECT_EQ(ZDB_PutField(name, value, kChoose), 2044);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("InfoFields"), Opcode("GetField descriptor"),
                                 Opcode("InfoFields"), Opcode("GetField descriptor")}));
  // The cache's own refusal leads to the descriptor as well.
  CacheTable({Def("OTHER", 'C', ' ', 4)});
  peer.ClearRecords();
  EXPECT_EQ(ZDB_TestField(name, value, kChoose), 2044);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("GetField descriptor")}));
}

TEST_F(FieldsSingle, GetFieldCopiesTheReplyBackAndPutFieldChangesNothing) {
  CacheTable({Def("NAME", 'C', ' ', 6), Def("QTY", 'N', ' ', 10)});
  peer.OnOpcode(Opcode("GetField"), [](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, 0);
    std::memcpy(reply.data() + SlotOffset(req, 0), "NAMX", 4);
    std::memcpy(reply.data() + SlotOffset(req, 1), "widget", 6);
    wire::PutU32(reply.data() + SlotOffset(req, 2), 99);
    return c.Write(reply);
  });
  peer.OnOpcode(Opcode("PutField"),
                [](const Request&, PeerConnection& c) { return c.ReplyStatus(2300); });
  char name[] = "NAME";
  char value[10];
  std::memset(value, '.', sizeof value);
  EXPECT_EQ(ZDB_GetField(name, value, kChoose), 1000);
  EXPECT_EQ(std::string(value, 10), "widget....");
  EXPECT_STREQ(name, "NAMX");  // the name slot of a full reply is the server's copy

  const uint8_t qty[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t sent[9] = {1, 2, 3, 4, 5, 6, 7, 8, 0xEE};
  EXPECT_EQ(ZDB_PutField("QTY", sent, kChoose), 2300);
  EXPECT_EQ(Last().header.kind, 1);
  EXPECT_EQ(Last().header.flags, 0x80);
  EXPECT_EQ(Last().slots[0], (Bytes{'Q', 'T', 'Y', 0}));
  EXPECT_EQ(Last().slots[1], Bytes(qty, qty + 8));
  EXPECT_EQ(std::memcmp(sent, qty, 8), 0);

  // A text value travels with its zero.
  EXPECT_EQ(ZDB_PutField("NAME", "bolt", kChoose), 2300);
  EXPECT_EQ(Last().slots[1], (Bytes{'b', 'o', 'l', 't', 0}));
  EXPECT_EQ(Last().SlotU32(2), 5u);
}

TEST_F(FieldsSingle, LibraryBufferTakesTheValueAndIsReplacedByTheNext) {
  CacheTable({Def("CODE", 'C', ' ', 4), Def("MEMO", 'C', 'M', 4)});
  peer.OnOpcode(Opcode("GetField"), [](const Request& req, PeerConnection& c) {
    Bytes v(req.slots[1].size(), 'v');
    return ReplyWithSlot(req, c, 1, v);
  });
  char name[] = "CODE";
  ASSERT_EQ(ZDB_GetField(name, nullptr, 0xFFFFFFFEu), 1000);
  EXPECT_EQ(Last().slots[1].size(), 4u);
  EXPECT_EQ(Last().SlotU32(2), 4u);
  uint8_t got[300] = {};
  EXPECT_EQ(fields::GetFieldBuffer().CopyOut(got, sizeof got), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "vvvv");

  char memo[] = "MEMO";
  uint8_t untouched[4] = {1, 2, 3, 4};
  ASSERT_EQ(ZDB_GetField(memo, untouched, 0xFFFFFFFEu), 1000);
  EXPECT_EQ(fields::GetFieldBuffer().size(), 256u);
  EXPECT_EQ(untouched[0], 1);
  // A failed choice leaves the record as it was.
  char missing[] = "NOPE";
  ServeDescriptor(peer, 'C', ' ', 1, 1, 2050);
  EXPECT_EQ(ZDB_GetField(missing, nullptr, 0xFFFFFFFEu), 2050);
  EXPECT_EQ(fields::GetFieldBuffer().size(), 256u);
}

// The layouts of IsNull and the copies are rows of CatalogMembers; a missing text is refused
// before anything is sent.
TEST_F(FieldsSingle, CopyWithAMissingTextSendsNothing) {
  EXPECT_EQ(ZDB_CpyField("a", nullptr, "c", "d"), 2003);
  EXPECT_EQ(ZDB_2CpyField("1", "2", "3", "4", nullptr, "six"), 2003);
  EXPECT_TRUE(peer.opcodes().empty());
}

TEST(FieldsSingleNoSession, EveryCallNeedsTheThreadsSession) {
  char name[] = "F";
  uint8_t v[8];
  char* values[2] = {nullptr, nullptr};
  EXPECT_EQ(ZDB_GetField(name, v, 4), 2001);
  EXPECT_EQ(ZDB_PutField(name, v, 4), 2001);
  EXPECT_EQ(ZDB_IsNull(name, v), 2001);
  EXPECT_EQ(ZDB_MatGetFields("*", values), 2001);
  EXPECT_EQ(ZDB_PutWrite("*", values), 2001);
  EXPECT_EQ(ZDB_FRead(name, name, v, 4), 2001);
  EXPECT_EQ(values[0], nullptr);
}

}  // namespace
}  // namespace zdb::test
