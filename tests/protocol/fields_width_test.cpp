// Size -1 trusts the server's width: the value fills exactly that many bytes of the caller's
// buffer, however wide. Only a width that no record can hold is refused, before anything is
// sent and without touching the caller's buffer.
#include <gtest/gtest.h>

#include <vector>

#include "fields_fixture.h"
#include "requests/single_field.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using FieldsWidth = FieldsTest;
constexpr uint32_t kChoose = 0xFFFFFFFFu;
constexpr uint32_t kOwnBuffer = 0xFFFFFFFEu;
constexpr uint8_t kGuard = 0xAA;

// The widest field a record can hold: its value and zero (width + 1) beside the 12900-byte
// definitions in one frame whose length is a 32-bit number.
constexpr uint32_t kWidest = 0xFFFFFFFFu - 161 - 12900 - 1;

// Answers value requests with the slot filled with 'v' from its first to its last byte.
void ServeValues(ScriptedPeer& peer) {
  for (uint32_t op : {Opcode("GetField"), Opcode("FRead")}) {
    const int slot = op == Opcode("GetField") ? 1 : 2;
    peer.OnOpcode(op, [slot](const Request& req, PeerConnection& c) {
      return ReplyWithSlot(req, c, slot, Bytes(req.slots[static_cast<size_t>(slot)].size(), 'v'));
    });
  }
}

TEST_F(FieldsWidth, WideDefinitionFillsExactlyItsWidth) {
  constexpr uint32_t kWidth = 24596;
  ServeValues(peer);
  CacheTable({Def("NOTE", 'C', ' ', kWidth)});
  std::vector<uint8_t> value(kWidth + 64, kGuard);
  char name[] = "NOTE";
  char lead[] = "";
  ASSERT_EQ(ZDB_GetField(name, value.data(), kChoose), 1000);
  EXPECT_EQ(value[kWidth - 1], 'v');
  EXPECT_EQ(value[kWidth], kGuard);
  std::fill(value.begin(), value.end(), kGuard);
  ASSERT_EQ(ZDB_FRead(lead, name, value.data(), kChoose), 1000);
  EXPECT_EQ(value[kWidth - 1], 'v');
  EXPECT_EQ(value[kWidth], kGuard);
  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].slots[1].size(), kWidth);
  EXPECT_EQ(reqs[1].slots[2].size(), kWidth);
}

TEST_F(FieldsWidth, WidthNoRecordCanHoldIsRefusedBeforeSending) {
  ServeValues(peer);
  char name[] = "NOTE";
  char lead[] = "";
  for (uint32_t width : {kWidest + 1, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(width);
    uint8_t value[21];
    std::fill(std::begin(value), std::end(value), kGuard);
    // From the cache, and from a descriptor for a name the cache cannot answer.
    CacheTable({Def("NOTE", 'C', ' ', width)});
    peer.ClearRecords();
    EXPECT_EQ(ZDB_GetField(name, value, kChoose), 2001);
    EXPECT_EQ(ZDB_FRead(lead, name, value, kChoose), 2001);
    EXPECT_EQ(ZDB_GetField(name, nullptr, kOwnBuffer), 2001);
    EXPECT_TRUE(peer.opcodes().empty());
    char qualified[] = "ITEMS.NOTE";
    ServeDescriptor(peer, 'X', ' ', 1, width);
    EXPECT_EQ(ZDB_GetField(qualified, value, kChoose), 2001);
    EXPECT_EQ(ZDB_FRead(lead, qualified, value, kChoose), 2001);
    EXPECT_EQ(peer.opcodes(), (Ops{Opcode("GetField descriptor"), Opcode("GetField descriptor")}));
    for (uint8_t b : value) EXPECT_EQ(b, kGuard);
  }
  // The widest field a record can hold is still accepted (not sent here: its frame would take
  // 4 GB).
  EXPECT_TRUE(fields::RecordCanHold(kWidest));
  EXPECT_FALSE(fields::RecordCanHold(kWidest + 1));
}

}  // namespace
}  // namespace zdb::test
