#include <gtest/gtest.h>

#include <cstring>
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
    RegisterSession(test::LoggedInSession(peer));
    peer.ClearRecords();
  }
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }

  test::ScriptedPeer peer;
};

Bytes T(const char* text) {
  return Bytes(text, text + std::strlen(text) + 1);
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

  // The family's texts travel as the caller wrote them, accented letters too (the layouts of
  // its members are in CatalogMembers).
  const char* a = "k\xE9y";
  peer.ClearRecords();
  ASSERT_EQ(ZDB_DBLock(a), kOk);
  ASSERT_EQ(ZDB_Seek("Id", a), kOk);
  ASSERT_EQ(ZDB_RebuildIndex(a), kOk);
  const auto sent = peer.requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].slots, (std::vector<Bytes>{T(a)}));
  EXPECT_EQ(sent[1].slots, (std::vector<Bytes>{T("Id"), T(a)}));
  EXPECT_EQ(sent[2].slots, (std::vector<Bytes>{T(a)}));
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

  // A thread without a Session gets 2001 from the selection calls and sends nothing (the
  // plain members: CatalogMembers.WithoutASessionNothingIsSent).
  peer.ClearRecords();
  const int connectionsBefore = peer.connections();
  std::vector<int32_t> results;
  std::thread([&] {
    char buf[33] = {};
    results = {ZDB_SelTable("t", ""), ZDB_UseDB("db"), ZDB_GetDB(buf)};
  }).join();
  EXPECT_EQ(results, std::vector<int32_t>(3, kErrComm));
  EXPECT_TRUE(peer.requests().empty());
  EXPECT_EQ(peer.connections(), connectionsBefore);
}

}  // namespace
}  // namespace zdb
