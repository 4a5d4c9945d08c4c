// Z_PFields: the change goes to the server, then the current table's cached definitions are
// fetched anew, so that lookups answered from the cache see the new widths.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/field_def.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::PeerConnection;
using test::Request;

struct CatalogPFields : testing::Test {
  test::ScriptedPeer peer;
  test::ThreadSession session{peer};
  std::atomic<uint32_t> width{10};    // the width the server reports for field AMOUNT
  std::atomic<int32_t> change{1000};  // the server's answer to the change

  void SetUp() override {
    // The current table's name, as the server reports it.
    peer.OnOpcode(Opcode("GetTable"), [](const Request& req, PeerConnection& c) {
      Bytes reply = PeerConnection::FullReply(req, 1000, req.header.sessionHandle);
      std::memcpy(reply.data() + wire::kHeaderSize, "T1", 3);
      return c.Write(reply);
    });
    peer.OnOpcode(Opcode("PFields"), [this](const Request&, PeerConnection& c) {
      return c.ReplyStatus(change.load());
    });
    peer.OnOpcode(Opcode("InfoFields"), [this](const Request& req, PeerConnection& c) {
      Bytes reply = PeerConnection::FullReply(req, 1000, req.header.sessionHandle);
      uint8_t* list = reply.data() + wire::kHeaderSize + req.slots[0].size();
      std::memset(list, 0, wire::kFieldDefListSize);
      wire::FieldDef def;
      def.name = "AMOUNT";
      def.type = 'C';
      def.width = width.load();
      wire::EncodeFieldDef(def, list);
      return c.Write(reply);
    });
  }

  uint32_t CachedWidth() {
    std::vector<uint8_t> defs(wire::kFieldDefListSize, 0);
    char list[] = "AMOUNT";
    const size_t before = peer.requests().size();
    EXPECT_EQ(Z_InfoFields(list, defs.data()), kOk);
    EXPECT_EQ(peer.requests().size(), before) << "answered from the cache";
    return wire::DecodeFieldDef(defs.data()).width;
  }

  std::vector<uint32_t> OpcodesSince(size_t from) {
    const auto all = peer.opcodes();
    return {all.begin() + static_cast<long>(from), all.end()};
  }
};

TEST_F(CatalogPFields, AnAcceptedChangeReloadsTheCachedTable) {
  ASSERT_EQ(ZDB_UseDB("DB1"), kOk);
  ASSERT_EQ(ZDB_SelDB("DB1"), kOk);
  ASSERT_EQ(ZDB_SelTable("T1", ""), kOk);
  EXPECT_EQ(CachedWidth(), 10u);

  width = 25;
  std::vector<uint8_t> defs(50, 'd');
  const size_t from = peer.requests().size();
  EXPECT_EQ(Z_PFields(defs.data(), 50), kOk);
  EXPECT_EQ(OpcodesSince(from),
            (std::vector<uint32_t>{Opcode("GetTable"), Opcode("PFields"), Opcode("InfoFields")}));
  const Request put = peer.requests()[from + 1];
  EXPECT_EQ(put.header.kindFlags(), 0x8001);
  ASSERT_EQ(put.header.paramCount, 2);
  EXPECT_EQ(put.slots[0], Bytes(50, 'd'));
  EXPECT_EQ(put.slots[1], (Bytes{50, 0, 0, 0}));
  EXPECT_EQ(CachedWidth(), 25u);
}

TEST_F(CatalogPFields, ARefusedChangeLeavesTheCacheAlone) {
  ASSERT_EQ(ZDB_UseDB("DB1"), kOk);
  ASSERT_EQ(ZDB_SelDB("DB1"), kOk);
  ASSERT_EQ(ZDB_SelTable("T1", ""), kOk);
  change = 3400;
  width = 25;
  uint8_t defs[4] = {};
  const size_t from = peer.requests().size();
  EXPECT_EQ(Z_PFields(defs, 4), 3400);
  EXPECT_EQ(OpcodesSince(from), (std::vector<uint32_t>{Opcode("GetTable"), Opcode("PFields")}));
  EXPECT_EQ(CachedWidth(), 10u);
}

TEST_F(CatalogPFields, CacheFailuresAreReturnedAfterTheServerAccepted) {
  uint8_t defs[4] = {};
  // No database selected in the cache.
  EXPECT_EQ(Z_PFields(defs, 4), kErrNoDatabase);
  // A database, but the current table was never selected, so never cached.
  ASSERT_EQ(ZDB_UseDB("DB1"), kOk);
  ASSERT_EQ(ZDB_SelDB("DB1"), kOk);
  const size_t from = peer.requests().size();
  EXPECT_EQ(Z_PFields(defs, 4), kErrComm);
  EXPECT_EQ(OpcodesSince(from), (std::vector<uint32_t>{Opcode("GetTable"), Opcode("PFields")}));
  EXPECT_EQ(session->lastResult, kOk);
  EXPECT_EQ(Z_PFields(defs, -1), kErrArgument);
}

}  // namespace
}  // namespace zdb
