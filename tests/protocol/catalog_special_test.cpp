// Catalog members whose slots or answers differ from the plain pattern: the wildcard of
// Z_GetField, the optional results of Z_Exist, the fixed name of Z_Structure, converted texts on
// the way out and back, and requests whose parameter count is not their argument count.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/le.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::PeerConnection;
using test::Request;

// A server byte that comes back as a space after conversion, and stays itself when a buffer
// is left alone.
constexpr uint8_t kMarker = 0xBA;

// Answers `opcode` with a full reply whose slot `slot` holds `content` (cut, or padded with the
// marker, to the slot's length) and whose other slots hold the marker.
void AnswerSlot(test::ScriptedPeer& peer, uint32_t opcode, size_t slot, Bytes content,
                int32_t status = 1000) {
  peer.OnOpcode(opcode, [=](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, status, req.header.sessionHandle);
    std::memset(reply.data() + wire::kHeaderSize, kMarker, reply.size() - wire::kHeaderSize);
    size_t at = wire::kHeaderSize;
    for (size_t i = 0; i < slot; ++i) at += req.slots[i].size();
    for (size_t i = 0; i < req.slots[slot].size() && i < content.size(); ++i)
      reply[at + i] = content[i];
    return c.Write(reply);
  });
}

struct CatalogSpecial : testing::Test {
  test::ScriptedPeer peer;
  test::ThreadSession session{peer};
  void SetUp() override { ASSERT_EQ(session->Login("", ""), kOk); }
  Request Last() { return peer.requests().back(); }
};

TEST_F(CatalogSpecial, GetFieldWithoutSecondBufferSendsTheBareWildcard) {
  AnswerSlot(peer, Opcode("GetField descriptor"), 2, Bytes(132, 'D'), 1000);
  char name[] = "NAME";
  uint8_t descriptor[140];
  std::memset(descriptor, 0, sizeof descriptor);
  EXPECT_EQ(Z_GetField(name, nullptr, descriptor), kOk);
  Request req = Last();
  ASSERT_EQ(req.header.paramCount, 3);
  EXPECT_EQ(req.slots[0], (Bytes{'N', 'A', 'M', 'E', 0}));
  EXPECT_EQ(req.slots[1], (Bytes{'*'}));
  EXPECT_EQ(req.slots[2].size(), 132u);
  EXPECT_EQ(req.header.total, 161u + 5 + 1 + 132);
  EXPECT_EQ(descriptor[0], 'D');
  EXPECT_EQ(descriptor[131], 'D');
  EXPECT_EQ(descriptor[132], 0);
  EXPECT_EQ(Z_GetField(nullptr, nullptr, descriptor), kErrArgument);
  EXPECT_EQ(peer.requests().size(), 3u);  // login, version, one field request
}

TEST_F(CatalogSpecial, ExistWithoutOptionalResultsStillSendsTheirSlots) {
  peer.OnOpcode(Opcode("Exist"), [](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, req.header.sessionHandle);
    std::memset(reply.data() + wire::kHeaderSize, 'R', reply.size() - wire::kHeaderSize);
    return c.Write(reply);
  });
  char table[] = "T1";
  EXPECT_EQ(Z_Exist(table, nullptr, nullptr), kOk);
  Request req = Last();
  ASSERT_EQ(req.slots.size(), 3u);
  EXPECT_EQ(req.slots[1], Bytes(64, 0));
  EXPECT_EQ(req.slots[2], Bytes(4, 0));
  EXPECT_EQ(std::string(table, 2), "RR");  // the one buffer the caller gave takes the reply

  // The reply took the terminator too: the text is written anew before each call.
  char name[65];
  std::memset(name, '-', sizeof name);
  std::memcpy(table, "T1", 3);
  EXPECT_EQ(Z_Exist(table, name, nullptr), kOk);
  EXPECT_EQ(name[63], 'R');
  EXPECT_EQ(name[64], '-');
  int32_t n = 7;
  std::memcpy(table, "T1", 3);
  EXPECT_EQ(Z_Exist(table, nullptr, &n), kOk);
  EXPECT_EQ(Last().slots[2], (Bytes{7, 0, 0, 0}));
  EXPECT_EQ(static_cast<uint32_t>(n), 0x52525252u);
}

TEST_F(CatalogSpecial, StructureSendsItsWholeNameBuffer) {
  char name[64];
  std::memset(name, 'x', sizeof name);
  std::memcpy(name, "AB", 3);
  std::vector<uint8_t> structure(1500, 1);
  int32_t n = 3;
  EXPECT_EQ(Z_Structure(name, structure.data(), &n), kOk);
  Request req = Last();
  ASSERT_EQ(req.slots.size(), 3u);
  Bytes expected(64, 'x');
  expected[0] = 'A';
  expected[1] = 'B';
  expected[2] = 0;
  EXPECT_EQ(req.slots[0], expected);
  EXPECT_EQ(req.slots[1].size(), 1500u);
}

TEST_F(CatalogSpecial, ValidUserSendsConvertedCopiesAndKeepsTheCallersTexts) {
  AnswerSlot(peer, Opcode("ValidUser"), 0, Bytes(8, 'Q'), 1000);
  const char user[] = "u\x15";
  EXPECT_EQ(Z_ValidUser(user, "", "pw"), kOk);
  Request req = Last();
  ASSERT_EQ(req.slots.size(), 3u);
  EXPECT_EQ(req.slots[0], (Bytes{'u', 0xEB, 0}));
  EXPECT_EQ(req.slots[1], (Bytes{0}));  // an empty text is its terminator alone
  EXPECT_EQ(req.slots[2], (Bytes{'p', 'w', 0}));
  EXPECT_STREQ(user, "u\x15");
}

TEST_F(CatalogSpecial, ParameterCountsThatAreNotArgumentCounts) {
  EXPECT_EQ(Z_DelDB(), kOk);
  Request del = Last();
  EXPECT_EQ(del.raw.size(), 161u);
  EXPECT_EQ(del.header.paramCount, 0);
  EXPECT_EQ(del.header.total, 161u);
  EXPECT_EQ(del.header.kindFlags(), 0x8001);

  uint8_t in[5] = {1, 2, 3, 4, 5};
  uint8_t out[3] = {9, 9, 9};
  EXPECT_EQ(Z_Internal(0x01020304, in, 5, out, 0), kOk);
  Request internal = Last();
  ASSERT_EQ(internal.header.paramCount, 3);
  EXPECT_EQ(internal.slots[0], (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(internal.slots[1], (Bytes{1, 2, 3, 4, 5}));
  EXPECT_TRUE(internal.slots[2].empty());
  EXPECT_EQ(internal.header.total, 161u + 4 + 5);

  uint8_t key[6] = {};
  EXPECT_EQ(Z_CurrentKey(key, 6), kOk);
  EXPECT_EQ(Last().slots[1], (Bytes{6, 0, 0, 0}));  // the length goes twice
  EXPECT_EQ(Last().slots[0].size(), 6u);
}

TEST_F(CatalogSpecial, AnAuthorizationAnswerIsTheStatusAlone) {
  peer.OnOpcode(Opcode("IsAuthorizated"),
                [](const Request&, PeerConnection& c) { return c.ReplyStatus(3217); });
  char a[] = "a";
  EXPECT_EQ(Z_IsAuthorizated(a, a, a, a, 2), 3217);
  EXPECT_STREQ(a, "a");
  EXPECT_EQ(Last().slots[4], (Bytes{2, 0, 0, 0}));
}

TEST_F(CatalogSpecial, UnusableArgumentsAreRefusedUnsent) {
  const size_t before = peer.requests().size();
  char names[9];
  EXPECT_EQ(Z_AddField(nullptr, "f", names), kErrArgument);
  EXPECT_EQ(Z_DataBase(-1, names), kErrArgument);
  EXPECT_EQ(Z_GFields(names, -5), kErrArgument);
  EXPECT_EQ(peer.requests().size(), before);
}

// ---- texts converted on the way back, bounded by what was sent ----

TEST_F(CatalogSpecial, DatabaseListConvertsOnlyTheEntriesSentAndCounted) {
  // The server claims five entries for a list of two: only the two sent are converted.
  AnswerSlot(peer, Opcode("DataBase"), 0, {5, 0, 0, 0});
  char names[2 * 9 + 4];
  std::memset(names, 0x77, sizeof names);
  EXPECT_EQ(Z_DataBase(2, names), kOk);
  EXPECT_EQ(Last().slots[1].size(), 18u);
  EXPECT_EQ(std::string(names, 18), std::string(18, ' '));
  EXPECT_EQ(static_cast<uint8_t>(names[18]), 0x77);

  // It counts one: the second entry keeps the server's bytes.
  AnswerSlot(peer, Opcode("DataBase"), 0, {1, 0, 0, 0});
  EXPECT_EQ(Z_DataBase(2, names), kOk);
  EXPECT_EQ(std::string(names, 9), std::string(9, ' '));
  EXPECT_EQ(static_cast<uint8_t>(names[9]), kMarker);
  EXPECT_EQ(static_cast<uint8_t>(names[17]), kMarker);

  // A count of 0 sends an empty list slot and converts nothing.
  std::memset(names, kMarker, sizeof names);
  EXPECT_EQ(Z_DataBase(0, names), kOk);
  EXPECT_TRUE(Last().slots[1].empty());
  EXPECT_EQ(static_cast<uint8_t>(names[0]), kMarker);
}

TEST_F(CatalogSpecial, TableListAndAccountsConvertTheirTextBytesOnly) {
  AnswerSlot(peer, Opcode("DbTables"), 0, {9, 0, 0, 0});
  std::vector<char> tables(3 * 33 + 1, 0x77);
  EXPECT_EQ(Z_DbTables(3, tables.data()), kOk);
  EXPECT_EQ(std::string(tables.data(), 99), std::string(99, ' '));
  EXPECT_EQ(tables[99], 0x77);

  // Accounts: 12-byte entries whose first 8 bytes are text; the count is the second slot.
  AnswerSlot(peer, Opcode("GetAccounts"), 1, {2, 0, 0, 0});
  uint8_t accounts[3 * 12 + 1];
  std::memset(accounts, 0x77, sizeof accounts);
  EXPECT_EQ(Z_GetAccounts(accounts, 3), kOk);
  EXPECT_EQ(Last().slots[0].size(), 36u);
  for (size_t i = 0; i < 36; ++i) {
    const bool text = i < 24 && i % 12 < 8;  // two counted entries of three
    EXPECT_EQ(accounts[i], text ? ' ' : kMarker) << "byte " << i;
  }
  EXPECT_EQ(accounts[36], 0x77);
}

TEST_F(CatalogSpecial, DatabaseRecordConvertsItsTwoTextsWithinTheRecord) {
  Bytes record(773, kMarker);
  record[20] = 0;   // first text: bytes 5 to 19
  record[300] = 0;  // second text: bytes 261 to 299
  AnswerSlot(peer, Opcode("GetDataBase"), 0, record);
  std::vector<uint8_t> buf(774, 0x77);
  EXPECT_EQ(Z_GetDataBase(buf.data()), kOk);
  EXPECT_EQ(Last().slots[0].size(), 773u);
  for (size_t i = 0; i < 773; ++i) {
    const bool text = (i >= 5 && i < 20) || (i >= 261 && i < 300);
    ASSERT_EQ(buf[i], text ? ' ' : (i == 20 || i == 300 ? 0 : kMarker)) << "byte " << i;
  }
  EXPECT_EQ(buf[773], 0x77);

  // Without terminators the texts run to the record's end and no further.
  AnswerSlot(peer, Opcode("GetDataBase"), 0, Bytes(773, kMarker));
  EXPECT_EQ(Z_GetDataBase(buf.data()), kOk);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 5), Bytes(5, kMarker));
  EXPECT_EQ(Bytes(buf.begin() + 5, buf.begin() + 773), Bytes(768, ' '));
  EXPECT_EQ(buf[773], 0x77);
}

TEST_F(CatalogSpecial, ConversionsFollowAFailedExchangeButNotAnUnsentRequest) {
  // The server drops the connection instead of answering: the record keeps the caller's bytes,
  // which are converted all the same.
  peer.OnOpcode(Opcode("GetDataBase"), [](const Request&, PeerConnection&) { return false; });
  std::vector<uint8_t> record(773, kMarker);
  record[10] = 0;
  record[270] = 0;
  EXPECT_EQ(Z_GetDataBase(record.data()), kErrComm);
  EXPECT_EQ(record[4], kMarker);
  EXPECT_EQ(Bytes(record.begin() + 5, record.begin() + 10), Bytes(5, ' '));
  EXPECT_EQ(record[11], kMarker);
  EXPECT_EQ(Bytes(record.begin() + 261, record.begin() + 270), Bytes(9, ' '));
  EXPECT_EQ(record[271], kMarker);

  // With no reply the sent count stands: both entries are converted.
  peer.OnOpcode(Opcode("DataBase"), [](const Request&, PeerConnection&) { return false; });
  char names[18];
  std::memset(names, kMarker, sizeof names);
  EXPECT_EQ(Z_DataBase(2, names), kErrComm);
  EXPECT_EQ(std::string(names, 18), std::string(18, ' '));

  // A request that never went out converts nothing.
  std::memset(names, kMarker, sizeof names);
  EXPECT_EQ(Z_DataBase(-2, names), kErrArgument);
  EXPECT_EQ(static_cast<uint8_t>(names[0]), kMarker);
}

}  // namespace
}  // namespace zdb
