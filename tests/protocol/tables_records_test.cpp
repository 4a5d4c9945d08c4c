#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "platform/platform.h"
#include "session/registry.h"
#include "tables_peer.h"
#include "wire/catalogue.h"
#include "wire/le.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;

class TablesRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSession(test::LoggedIn(peer));
    peer.ClearRecords();
  }
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }

  test::ScriptedPeer peer;
};

struct Member {
  const char* name;
  std::function<int32_t()> call;
  uint32_t opcode;
  std::vector<Bytes> slots;
};

Bytes T(const char* text) {
  return Bytes(text, text + std::strlen(text) + 1);
}

// Every status-only member: its opcode, kind 1 with the status-only flag, its texts byte for
// byte (no conversion), and one 4-byte status read back.
TEST_F(TablesRecords, EveryStatusOnlyMemberSendsItsRowExactly) {
  const char* a = "k\xE9y";  // an accented letter travels unchanged
  const std::vector<Member> members = {
      {"DBLock", [&] { return ZDB_DBLock(a); }, Opcode("DBLock"), {T(a)}},
      {"DBUnLock", [&] { return ZDB_DBUnLock("db"); }, Opcode("DBUnLock"), {T("db")}},
      {"DBIsLock", [&] { return ZDB_DBIsLock("db"); }, Opcode("DBIsLock"), {T("db")}},
      {"LockTable", [&] { return ZDB_LockTable("t"); }, Opcode("LockTable"), {T("t")}},
      {"Seek", [&] { return ZDB_Seek("Id", a); }, Opcode("Seek"), {T("Id"), T(a)}},
      {"Read", [&] { return ZDB_Read("", ""); }, Opcode("Read"), {{0}, {0}}},
      {"AppendBlank", [&] { return ZDB_AppendBlank(); }, Opcode("AppendBlank"), {}},
      {"Write", [&] { return ZDB_Write(); }, Opcode("Write"), {}},
      {"Delete", [&] { return ZDB_Delete("7"); }, Opcode("Delete"), {T("7")}},
      {"RecUnLock", [&] { return ZDB_RecUnLock("7"); }, Opcode("RecUnLock"), {T("7")}},
      {"BeginTransaction", [&] { return ZDB_BeginTransaction(); }, Opcode("BeginTransaction"), {}},
      {"EndTransaction", [&] { return ZDB_EndTransaction(); }, Opcode("EndTransaction"), {}},
      {"Commit", [&] { return ZDB_Commit(); }, Opcode("Commit"), {}},
      {"RollBack", [&] { return ZDB_RollBack(); }, Opcode("RollBack"), {}},
      {"BackupTable",
       [&] { return ZDB_BackupTable("t", "f"); },
       Opcode("BackupTable"),
       {T("t"), T("f")}},
      {"RestoreTable",
       [&] { return ZDB_RestoreTable("t", "f"); },
       Opcode("RestoreTable"),
       {T("t"), T("f")}},
      {"CreateIndex",
       [&] { return ZDB_CreateIndex("Index", "", "Field,1"); },
       Opcode("CreateIndex"),
       {T("Index"), T(""), T("Field,1")}},
      {"EraseIndex", [&] { return ZDB_EraseIndex("i"); }, Opcode("EraseIndex"), {T("i")}},
      {"RebuildIndex", [&] { return ZDB_RebuildIndex(a); }, Opcode("RebuildIndex"), {T(a)}},
      {"CompactTable", [&] { return ZDB_CompactTable("t"); }, Opcode("CompactTable"), {T("t")}},
      {"ClearTable",
       [&] { return ZDB_ClearTable("t", 0x7FFF1234); },
       Opcode("ClearTable"),
       {T("t"), {0x34, 0x12}}},
      {"FFCopy", [&] { return ZDB_FFCopy("a", "b"); }, Opcode("FFCopy"), {T("a"), T("b")}},
      {"XRefTest", [&] { return ZDB_XRefTest("a", "bc"); }, Opcode("XRefTest"), {T("a"), T("bc")}},
  };
  for (const Member& m : members) {
    SCOPED_TRACE(m.name);
    peer.ClearRecords();
    ASSERT_EQ(m.call(), kOk);
    const auto reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 1u);
    const wire::FrameHeader& h = reqs[0].header;
    EXPECT_EQ(h.opcode, m.opcode);
    EXPECT_EQ(h.kindFlags(), 0x8001);
    EXPECT_EQ(reqs[0].slots, m.slots);
    size_t size = wire::kHeaderSize;
    for (const Bytes& b : m.slots) size += b.size();
    EXPECT_EQ(h.total, size);
    EXPECT_EQ(reqs[0].raw.size(), size);
    if (m.slots.empty()) {
      EXPECT_EQ(h.paramCount, 0);
      EXPECT_EQ(h.lengths, (std::array<uint32_t, wire::kMaxSlots>{}));
    }
  }
}

TEST_F(TablesRecords, SlotsAreLaidOutBackToBackAndValuesCutTo16Bits) {
  ASSERT_EQ(ZDB_CreateIndex("abcde", "", "fghijkl"), kOk);
  ASSERT_EQ(ZDB_ClearTable("t", 1), kOk);
  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].header.paramCount, 3);
  EXPECT_EQ(reqs[0].header.lengths[0], 6u);
  EXPECT_EQ(reqs[0].header.lengths[1], 1u);
  EXPECT_EQ(reqs[0].header.lengths[2], 8u);
  EXPECT_EQ(reqs[0].header.offsets[0], 0u);
  EXPECT_EQ(reqs[0].header.offsets[1], 6u);
  EXPECT_EQ(reqs[0].header.offsets[2], 7u);
  EXPECT_EQ(reqs[1].slots.at(1), (Bytes{0x01, 0x00}));
}

TEST_F(TablesRecords, FullRepliesCopyBackEverySlot) {
  peer.OnOpcode(Opcode("WhoLock"), [](const test::Request& req, test::PeerConnection& c) {
    Bytes reply = test::PeerConnection::FullReply(req, 1000, 0);
    uint8_t* data = reply.data() + wire::kHeaderSize;
    data[0] = 'R';  // the server's copy of the text differs from what was sent
    std::memcpy(data + req.header.lengths[0], "holder\0", 7);
    return c.Write(reply);
  });
  peer.OnOpcode(Opcode("TRStatus"), [](const test::Request& req, test::PeerConnection& c) {
    Bytes reply = test::PeerConnection::FullReply(req, 1000, 0);
    wire::PutI32(reply.data() + wire::kHeaderSize, -2);
    return c.Write(reply);
  });
  char text[] = "rec 12";
  char holder[33];
  std::memset(holder, 0xA5, sizeof holder);
  int32_t status = 0x01020304;
  EXPECT_EQ(ZDB_WhoLock(text, holder), kOk);
  EXPECT_EQ(ZDB_TRStatus(&status), kOk);

  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].header.kindFlags(), 0x0001);
  EXPECT_EQ(reqs[0].header.opcode, Opcode("WhoLock"));
  EXPECT_EQ(reqs[0].slots, (std::vector<Bytes>{T("rec 12"), Bytes(33, 0xA5)}));
  EXPECT_STREQ(text, "Rec 12");
  EXPECT_STREQ(holder, "holder");
  EXPECT_EQ(static_cast<uint8_t>(holder[32]), 0xA5);  // the server's bytes, all 33 of them

  EXPECT_EQ(reqs[1].header.kindFlags(), 0x0001);
  EXPECT_EQ(reqs[1].header.opcode, Opcode("TRStatus"));
  EXPECT_EQ(reqs[1].slots, (std::vector<Bytes>{{4, 3, 2, 1}}));
  EXPECT_EQ(status, -2);
}

TEST_F(TablesRecords, ServerCodesPassThroughAndFailuresAreReported) {
  peer.OnOpcode(Opcode("DBIsLock"),
                [](const test::Request&, test::PeerConnection& c) { return c.ReplyStatus(3457); });
  EXPECT_EQ(ZDB_DBIsLock("db"), 3457);
  // A server that closes without answering.
  peer.OnOpcode(Opcode("Write"), [](const test::Request&, test::PeerConnection&) { return false; });
  EXPECT_EQ(ZDB_Write(), kErrComm);
  EXPECT_EQ(ZDB_Seek(nullptr, "x"), kErrArgument);
  EXPECT_EQ(peer.opcodes(), (std::vector<uint32_t>{Opcode("DBIsLock"), Opcode("Write")}));

  // A thread without a Session gets 2001 from every member and sends nothing.
  peer.ClearRecords();
  const int connectionsBefore = peer.connections();
  std::vector<int32_t> results;
  std::thread([&] {
    char buf[33] = {};
    int32_t n = 0;
    results = {ZDB_RebuildIndex("i"), ZDB_Write(),     ZDB_TRStatus(&n), ZDB_WhoLock(buf, buf),
               ZDB_SelTable("t", ""), ZDB_UseDB("db"), ZDB_GetDB(buf),   Z_InfoFields(buf, buf)};
  }).join();
  EXPECT_EQ(results, std::vector<int32_t>(8, kErrComm));
  EXPECT_TRUE(peer.requests().empty());
  EXPECT_EQ(peer.connections(), connectionsBefore);
}

}  // namespace
}  // namespace zdb
