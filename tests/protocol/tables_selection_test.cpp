#include <gtest/gtest.h>

#include <cstring>

#include "net/charset.h"
#include "platform/platform.h"
#include "session/registry.h"
#include "tables_peer.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;

// The bytes a text is sent as in the server character set; accented letters do change.
Bytes Converted(const char* text) {
  const std::string c = ToServerText(text);
  EXPECT_NE(0, std::memcmp(c.data(), text, c.size()));
  return Bytes(c.begin(), c.end());
}

// The exported selection calls on a registered Session against the scripted peer, which
// answers the definition request with the fields of whichever table the test names.
class TablesSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    test::AnswerFieldDefs(peer, [this] { return test::FieldList(fields); });
    RegisterSession(test::LoggedInSession(peer));
    s = FindSessionForThread();
    ASSERT_NE(s, nullptr);
    peer.ClearRecords();
  }
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }

  // Opcodes sent since the last call of Sent().
  std::vector<uint32_t> Sent() {
    auto ops = peer.opcodes();
    peer.ClearRecords();
    return ops;
  }

  FieldCache& cache() { return s->fieldCache; }

  void UseAndSelect(const char* db) {
    ASSERT_EQ(ZDB_UseDB(db), kOk);
    ASSERT_EQ(ZDB_SelDB(db), kOk);
    Sent();
  }

  std::vector<std::string> InfoFields(const char* list) {
    std::string writable(list);
    std::vector<uint8_t> out(wire::kFieldDefListSize, 0);
    EXPECT_EQ(Z_InfoFields(writable.data(), out.data()), kOk);
    return test::NamesIn(out.data());
  }

  test::ScriptedPeer peer;
  Session* s = nullptr;
  std::vector<std::string> fields{"Id", "Name"};
};

TEST_F(TablesSelection, DatabaseNamesAreKeyedPaddedAndSentConverted) {
  EXPECT_EQ(ZDB_UseDB("Caf\xE9s"), kOk);
  auto req = peer.requests().at(0);
  EXPECT_EQ(req.header.opcode, Opcode("UseDB"));
  EXPECT_EQ(req.header.kindFlags(), 0x8001);
  EXPECT_EQ(req.slots.at(0), Converted("Caf\xE9s"));
  EXPECT_EQ(0, std::memcmp(cache().databases[0].name, "Caf\xE9s   \0", 9));  // unconverted
  EXPECT_EQ(cache().databases[0].selectedTable, kNoTableSelected);
  EXPECT_EQ(cache().selectedDatabase, kNoDatabaseSelected);  // using is not selecting

  EXPECT_EQ(ZDB_SelDB("caf\xE9s"), kOk);  // other letter case: accepted, nothing selected
  EXPECT_EQ(cache().selectedDatabase, kNoDatabaseSelected);
  EXPECT_EQ(ZDB_SelDB("Caf\xE9s   "), kOk);
  EXPECT_EQ(cache().selectedDatabase, 0);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("UseDB"), Opcode("SelDB"), Opcode("SelDB")}));

  // Recorded once; a sixth database is accepted but not recorded, so it cannot be selected.
  for (const char* db : {"Caf\xE9s", "B", "C", "D", "E", "SIXTH"}) EXPECT_EQ(ZDB_UseDB(db), kOk);
  EXPECT_STREQ(cache().databases[4].name, "E       ");
  EXPECT_EQ(ZDB_SelDB("SIXTH"), kOk);
  EXPECT_EQ(cache().selectedDatabase, 0);

  // A refusal by the server changes nothing locally.
  peer.OnOpcode(Opcode("SelDB"),
                [](const test::Request&, test::PeerConnection& c) { return c.ReplyStatus(3101); });
  EXPECT_EQ(ZDB_SelDB("B"), 3101);
  EXPECT_EQ(cache().selectedDatabase, 0);
  peer.OnOpcode(Opcode("UnUseDB"),
                [](const test::Request&, test::PeerConnection& c) { return c.ReplyStatus(3102); });
  EXPECT_EQ(ZDB_UnUseDB("B"), 3102);
  EXPECT_STREQ(cache().databases[1].name, "B       ");

  // Too long for a key: refused before anything is sent.
  Sent();
  EXPECT_EQ(ZDB_UseDB("NINECHARS"), kErrArgument);
  EXPECT_EQ(ZDB_SelDB("NINECHARS"), kErrArgument);
  EXPECT_EQ(ZDB_UnUseDB("NINECHARS"), kErrArgument);
  EXPECT_EQ(ZDB_UseDB(nullptr), kErrArgument);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TablesSelection, SelectingATableLoadsItsDefinitionsOnce) {
  UseAndSelect("SALES");
  // Nothing selected yet: the lookup goes to the server.
  EXPECT_EQ(InfoFields("*"), fields);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("InfoFields")}));

  EXPECT_EQ(ZDB_OpenTable("Orders", "", ""), kOk);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("OpenTable")}));  // opening loads nothing
  EXPECT_EQ(cache().databases[0].tables[0], nullptr);

  EXPECT_EQ(ZDB_SelTable("Orders", "x"), kOk);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("SelTable"), Opcode("InfoFields")}));
  EXPECT_EQ(cache().databases[0].selectedTable, 0);

  // Answered from the cache: no request at all.
  fields = {"Changed"};
  EXPECT_EQ(InfoFields("*"), (std::vector<std::string>{"Id", "Name"}));
  EXPECT_EQ(InfoFields(" Name ,Missing, Id"), (std::vector<std::string>{"Name", "Id"}));
  std::string lower = "name";
  std::vector<uint8_t> out(wire::kFieldDefListSize, 0);
  EXPECT_EQ(Z_InfoFields(lower.data(), out.data()), kErrNoFieldMatch);
  EXPECT_TRUE(Sent().empty());

  // Maintenance of the selected table leaves its cached definitions in place.
  EXPECT_EQ(ZDB_ClearTable("Orders", 0), kOk);
  EXPECT_EQ(ZDB_RestoreTable("Orders", "backup"), kOk);
  EXPECT_EQ(InfoFields("Id"), (std::vector<std::string>{"Id"}));
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("ClearTable"), Opcode("RestoreTable")}));

  // A second selection of a cached table sends only its own request.
  EXPECT_EQ(ZDB_SelTable("Orders", "x"), kOk);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("SelTable")}));

  // Closing another table leaves the selection; closing this one sends lookups to the server.
  EXPECT_EQ(ZDB_SelTable("Lines", ""), kOk);
  EXPECT_EQ(ZDB_SelTable("Orders", ""), kOk);
  Sent();
  EXPECT_EQ(ZDB_CloseTable("Lines"), kOk);
  EXPECT_EQ(cache().databases[0].selectedTable, 0);
  EXPECT_EQ(InfoFields("*"), (std::vector<std::string>{"Id", "Name"}));
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("CloseTable")}));
  EXPECT_EQ(ZDB_CloseTable("Orders"), kOk);
  EXPECT_EQ(cache().databases[0].selectedTable, kNoTableSelected);
  EXPECT_EQ(InfoFields("*"), fields);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("CloseTable"), Opcode("InfoFields")}));

  // Never selected, so never cached: the server closed it, the cache did not know it.
  EXPECT_EQ(ZDB_CloseTable("Orders"), kErrComm);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("CloseTable")}));
}

TEST_F(TablesSelection, TableNamesAreConvertedOtherTextsSentAsTheyAre) {
  UseAndSelect("SALES");
  EXPECT_EQ(ZDB_OpenTable("\xC4nd", "\xC4x", "y\xE9"), kOk);
  EXPECT_EQ(ZDB_SelTable("\xC4nd", "\xC4x"), kOk);
  EXPECT_EQ(ZDB_Alias("\xC4", "b", ""), kOk);
  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].header.kindFlags(), 0x8001);
  EXPECT_EQ(reqs[0].slots,
            (std::vector<Bytes>{Converted("\xC4nd"), {0xC4, 'x', 0}, {'y', 0xE9, 0}}));
  EXPECT_EQ(reqs[1].header.opcode, Opcode("SelTable"));
  EXPECT_EQ(reqs[1].slots, (std::vector<Bytes>{Converted("\xC4nd"), Converted("\xC4x")}));
  EXPECT_EQ(reqs[3].header.opcode, Opcode("Alias"));
  EXPECT_EQ(reqs[3].header.kindFlags(), 0x8001);
  EXPECT_EQ(reqs[3].slots, (std::vector<Bytes>{{0xC4, 0}, {'b', 0}, {0}}));
  // The cache keys the caller's own bytes.
  EXPECT_EQ(std::string(cache().databases[0].tables[0]->key()), "\xC4nd" + std::string(29, ' '));

  Sent();
  EXPECT_EQ(ZDB_SelTable(std::string(33, 'T').c_str(), ""), kErrArgument);
  EXPECT_EQ(ZDB_CloseTable(std::string(33, 'T').c_str()), kErrArgument);
  EXPECT_EQ(ZDB_SelTable("T", nullptr), kErrArgument);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TablesSelection, CurrentNamesComeBackUnconverted) {
  peer.OnOpcode(Opcode("GetDB"), [](const test::Request& req, test::PeerConnection& c) {
    Bytes reply = test::PeerConnection::FullReply(req, 1000, 0);
    std::memcpy(reply.data() + wire::kHeaderSize,
                "\x8E"
                "BCDEFGH",
                9);
    return c.Write(reply);
  });
  peer.OnOpcode(Opcode("GetTable"), [](const test::Request& req, test::PeerConnection& c) {
    Bytes reply = test::PeerConnection::FullReply(req, 1000, 0);
    std::memcpy(reply.data() + wire::kHeaderSize, "\x8E", 2);
    return c.Write(reply);
  });
  char db[9] = {'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y'};
  char table[33];
  std::memset(table, 'z', sizeof table);
  EXPECT_EQ(ZDB_GetDB(db), kOk);
  EXPECT_EQ(ZDB_GetTable(table), kOk);
  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].header.kindFlags(), 0x0001);
  EXPECT_EQ(reqs[0].slots.at(0), (Bytes{'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y'}));
  EXPECT_EQ(reqs[1].slots.at(0), Bytes(33, 'z'));
  EXPECT_EQ(0, std::memcmp(db,
                           "\x8E"
                           "BCDEFGH",
                           9));
  EXPECT_EQ(0, std::memcmp(table, "\x8E\0zzz", 5));
}

TEST_F(TablesSelection, CacheLimitsAndMissingDatabase) {
  // No database selected: the server accepts the selection, the cache cannot hold it.
  EXPECT_EQ(ZDB_SelTable("Orders", ""), kErrNoDatabase);
  EXPECT_EQ(ZDB_CloseTable("Orders"), kErrNoDatabase);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("SelTable"), Opcode("CloseTable")}));

  UseAndSelect("SALES");
  for (int i = 0; i < kCacheTables; ++i)
    ASSERT_EQ(ZDB_SelTable(("T" + std::to_string(i)).c_str(), ""), kOk);
  Sent();
  EXPECT_EQ(ZDB_SelTable("T25", ""), kErrComm);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("SelTable")}));
  EXPECT_EQ(cache().databases[0].selectedTable, 24);

  // A definition request the server refuses ends the selection with its code.
  ASSERT_EQ(ZDB_CloseTable("T3"), kOk);
  test::AnswerFieldDefs(
      peer, [] { return test::FieldList({}); }, 3200);
  EXPECT_EQ(ZDB_SelTable("T25", ""), 3200);
  EXPECT_EQ(cache().databases[0].tables[3], nullptr);
  EXPECT_EQ(cache().databases[0].selectedTable, 24);
}

TEST_F(TablesSelection, EachDatabaseKeepsItsSelectedTable) {
  UseAndSelect("ONE");
  fields = {"A1"};
  ASSERT_EQ(ZDB_SelTable("Alpha", ""), kOk);
  UseAndSelect("TWO");
  fields = {"B1", "B2"};
  ASSERT_EQ(ZDB_SelTable("Beta", ""), kOk);
  ASSERT_EQ(ZDB_SelDB("ONE"), kOk);
  Sent();
  EXPECT_EQ(InfoFields("*"), (std::vector<std::string>{"A1"}));
  EXPECT_TRUE(Sent().empty());
  // Beta is cached under TWO only.
  EXPECT_EQ(ZDB_CloseTable("Beta"), kErrComm);

  // Releasing the selected database selects none: lookups go to the server again.
  ASSERT_EQ(ZDB_UnUseDB("ONE"), kOk);
  EXPECT_EQ(cache().selectedDatabase, kNoDatabaseSelected);
  EXPECT_EQ(cache().databases[0].name[0], 0);
  EXPECT_EQ(cache().databases[0].tables[0], nullptr);
  Sent();
  EXPECT_EQ(InfoFields("*"), fields);
  EXPECT_EQ(Sent(), (std::vector<uint32_t>{Opcode("InfoFields")}));
}

TEST_F(TablesSelection, ASecondLoginEmptiesTheFirstEntryOnly) {
  UseAndSelect("ONE");
  ASSERT_EQ(ZDB_SelTable("Alpha", ""), kOk);
  UseAndSelect("TWO");
  ASSERT_EQ(ZDB_SelTable("Beta", ""), kOk);
  const Request logout(wire::Op("Logout"), 0);
  ASSERT_EQ(s->PrepareRequest(logout), kOk);
  s->Exchange(logout);
  ASSERT_FALSE(s->LoggedIn());
  Sent();

  EXPECT_EQ(ZDB_DBLock("x"), kOk);  // logs in again on the way
  EXPECT_EQ(Sent(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("DBLock")}));
  EXPECT_EQ(cache().selectedDatabase, kNoDatabaseSelected);
  EXPECT_EQ(cache().databases[0].name[0], 0);
  EXPECT_EQ(cache().databases[0].tables[0], nullptr);
  EXPECT_STREQ(cache().databases[1].name, "TWO     ");
  EXPECT_NE(cache().databases[1].tables[0], nullptr);
  EXPECT_EQ(cache().databases[1].selectedTable, 0);
}

}  // namespace
}  // namespace zdb
