// The run login and its end: the login's frame with its two extra slots, the run mark that every
// later header carries, and the logout that exchanges one buffer.
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

// The login answer of a run session: handle 0x777, slot 2 filled with 'R', counter 42.
void AnswerRunLogin(test::ScriptedPeer& peer, int32_t status = 1000) {
  peer.OnOpcode(Opcode("Login"), [status](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, status, status == 1000 ? 0x777 : 0xFFFFFFFFu);
    if (req.header.paramCount == 4) {
      uint8_t* data = reply.data() + wire::kHeaderSize + req.slots[0].size() + req.slots[1].size();
      std::memset(data, 'R', req.slots[2].size());
      wire::PutU32(data + req.slots[2].size(), 42);
    }
    return c.Write(reply);
  });
}

TEST(CatalogRunSession, RunLogsInWithFourSlotsAndMarksTheSessionForGood) {
  test::ScriptedPeer peer;
  AnswerRunLogin(peer);
  test::ThreadSession session(peer);
  uint8_t data[6] = {1, 2, 3, 4, 5, 0x66};
  int32_t counter = 9;
  EXPECT_EQ(Z_Run("usr", "p\x15", data, 5, &counter), kOk);
  std::vector<Request> requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);  // the login and the version check
  const Request& login = requests[0];
  EXPECT_EQ(login.header.opcode, Opcode("Login"));
  EXPECT_EQ(login.header.kindFlags(), 0x0001);
  ASSERT_EQ(login.header.paramCount, 4);
  EXPECT_EQ(login.slots[0], (Bytes{'u', 's', 'r', 0}));
  EXPECT_EQ(login.slots[1], (Bytes{'p', 0xEB, 0}));
  EXPECT_EQ(login.slots[2], (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(login.slots[3], (Bytes{9, 0, 0, 0}));
  EXPECT_EQ(login.raw[12], 0x01);  // the run mark in header byte 12
  EXPECT_EQ(login.header.connectionOptions, 0x0103);
  EXPECT_EQ(requests[1].header.opcode, Opcode("GetVersion"));
  EXPECT_EQ(requests[1].header.connectionOptions, 0x0103);
  EXPECT_EQ(Bytes(data, data + 6), (Bytes{'R', 'R', 'R', 'R', 'R', 0x66}));
  EXPECT_EQ(counter, 42);
  EXPECT_EQ(session->sessionHandle, 0x777u);
  EXPECT_EQ(session->lastResult, kOk);

  // Logged in: a second run login does nothing at all.
  EXPECT_EQ(Z_Run("other", "", data, 5, &counter), kOk);
  EXPECT_EQ(peer.requests().size(), 2u);

  // The mark stays after the run session ends, on every later request.
  uint8_t end[3] = {7, 8, 9};
  EXPECT_EQ(Z_NoRun(end, 3), kOk);
  EXPECT_EQ(Z_DelField("f"), kOk);
  requests = peer.requests();
  ASSERT_EQ(requests.size(), 6u);  // logout, implicit login, version, the request
  for (const Request& r : requests) EXPECT_EQ(r.raw[12], 0x01) << "opcode " << r.header.opcode;
}

TEST(CatalogRunSession, RunOnALoggedInSessionSendsNothingAndSetsNoMark) {
  test::ScriptedPeer peer;
  test::ThreadSession session(peer);
  ASSERT_EQ(session->Login("", ""), kOk);
  const size_t before = peer.requests().size();
  int32_t counter = 0;
  EXPECT_EQ(Z_Run("u", "p", nullptr, 0, &counter), kOk);
  EXPECT_EQ(peer.requests().size(), before);
  EXPECT_EQ(session->connectionOptions, 3);
}

TEST(CatalogRunSession, EmptyCredentialsAndAnEmptyBuffer) {
  test::ScriptedPeer peer;
  test::ThreadSession session(peer);
  int32_t counter = 0x01020304;
  uint8_t unused = 0x55;
  EXPECT_EQ(Z_Run("", "", &unused, 0, &counter), kOk);
  const Request login = peer.requests().front();
  ASSERT_EQ(login.slots.size(), 4u);
  EXPECT_EQ(login.slots[0], (Bytes{0}));
  EXPECT_EQ(login.slots[1], (Bytes{0}));
  EXPECT_TRUE(login.slots[2].empty());
  EXPECT_EQ(login.slots[3], (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(login.header.total, 161u + 1 + 1 + 0 + 4);
  EXPECT_EQ(unused, 0x55);
}

TEST(CatalogRunSession, AFailedRunLoginStillMarksEveryLaterRequest) {
  test::ScriptedPeer peer;
  AnswerRunLogin(peer, 3100);
  test::ThreadSession session(peer);
  uint8_t data[2] = {};
  int32_t counter = 0;
  EXPECT_EQ(Z_Run("u", "p", data, 2, &counter), 3100);
  EXPECT_EQ(session->lastResult, 3100);
  EXPECT_FALSE(session->LoggedIn());
  EXPECT_EQ(Z_DelField("f"), 3100);  // the implicit login is refused as well
  const std::vector<Request> requests = peer.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header.paramCount, 2);  // an ordinary login, but marked
  for (const Request& r : requests) EXPECT_EQ(r.header.connectionOptions & 0x0100, 0x0100);
  EXPECT_EQ(Z_Run("u", nullptr, data, 2, &counter), kErrArgument);
  EXPECT_EQ(peer.requests().size(), 2u);
}

TEST(CatalogRunSession, RunPassesTheTransportsOwnCodesAndTheVersionCheck) {
  uint16_t closedPort;
  {
    test::ScriptedPeer gone;
    closedPort = gone.port();
  }
  {
    test::ScriptedPeer peer;
    test::ThreadSession session(peer);
    session->serverAddress.port = closedPort;
    int32_t counter = 0;
    EXPECT_EQ(Z_Run("u", "p", nullptr, 0, &counter), kErrConnect);
    EXPECT_EQ(session->lastResult, kErrConnect);
    EXPECT_EQ(session->connectionOptions & 0x0100, 0x0100);
    session->serverAddress.port = peer.port();  // lets the Session log out cleanly
  }
  test::ScriptedPeer peer;
  peer.SetVersion(0x1300);
  test::ThreadSession session(peer);
  int32_t counter = 0;
  EXPECT_EQ(Z_Run("u", "p", nullptr, 0, &counter), kErrVersion);
  EXPECT_TRUE(session->LoggedIn());  // refused for its version, but logged in
}

TEST(CatalogRunSession, NoRunEndsTheLoginAndTheNextRequestLogsInAgain) {
  test::ScriptedPeer peer;
  peer.OnOpcode(Opcode("Logout"), [](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, 0xFFFFFFFFu);
    std::memset(reply.data() + wire::kHeaderSize, 'E', req.slots[0].size());
    c.Write(reply);
    return false;
  });
  test::ThreadSession session(peer);
  uint8_t buffer[5] = {1, 2, 3, 4, 0x99};
  // Not logged in: the empty login comes first.
  EXPECT_EQ(Z_NoRun(buffer, 4), kOk);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("Logout")}));
  const Request end = peer.requests().back();
  EXPECT_EQ(end.header.kindFlags(), 0x0001);
  ASSERT_EQ(end.header.paramCount, 1);
  EXPECT_EQ(end.slots[0], (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(end.header.sessionHandle, 0x1234u);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{'E', 'E', 'E', 'E', 0x99}));
  EXPECT_FALSE(session->LoggedIn());
  EXPECT_EQ(Z_DelField("f"), kOk);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("Logout"),
                                   Opcode("Login"), Opcode("GetVersion"), Opcode("DelField")}));

  // A refused logout keeps the login.
  peer.OnOpcode(Opcode("Logout"), [](const Request& req, PeerConnection& c) {
    c.ReplyFull(req, 3300, req.header.sessionHandle);
    return false;
  });
  EXPECT_EQ(Z_NoRun(buffer, 0), 3300);
  EXPECT_TRUE(session->LoggedIn());
  peer.OnOpcode(Opcode("Logout"), [](const Request& req, PeerConnection& c) {
    c.ReplyFull(req, 1000, 0xFFFFFFFFu);
    return false;
  });
}

}  // namespace
}  // namespace zdb
