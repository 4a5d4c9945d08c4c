// Host selection, login, the exchange and session control through the exported functions,
// against the scripted peer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "session/registry.h"
#include "support/scripted_peer.h"
#include "support/test_platform.h"
#include "wire/catalogue.h"
#include "wire/le.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::PeerConnection;
using test::Request;
using test::ScriptedPeer;

class SessionControl : public ::testing::Test {
 protected:
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }
  void Select(const ScriptedPeer& peer) { ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000); }
};

uint32_t U32At(const Bytes& b, size_t off) {
  return wire::GetU32(b.data() + off);
}

TEST_F(SessionControl, NoSessionMeans2001Everywhere) {
  uint32_t version = 0;
  char text[300] = "untouched";
  EXPECT_EQ(ZDB_Init("", ""), 2001);
  EXPECT_EQ(ZDB_GetVersion(&version), 2001);
  EXPECT_EQ(ZDB_Finish(), 2001);
  EXPECT_EQ(ZDB_Connection(1), 2001);
  EXPECT_EQ(SetConnectionOptions("abc"), 2001);
  EXPECT_EQ(ZDB_GetHost(text), 2001);
  EXPECT_EQ(ZDB_GetError(1000, text), 2001);
  EXPECT_EQ(Z_GetError(1000, text), 2001);
  EXPECT_EQ(ZDB_TCPError(text), 2001);
  EXPECT_EQ(ZDB_IsActive("127.0.0.1"), 2001);
  EXPECT_EQ(ZDB_Stop("127.0.0.1"), 2001);
  EXPECT_STREQ(text, "untouched");
}

TEST_F(SessionControl, SelectHostParsesTheHostText) {
  ScriptedPeer peer;
  const std::string port = std::to_string(peer.port());
  ASSERT_EQ(ZDB_SelHost(("localhost:" + port).c_str()), 1000);
  char host[257];
  ASSERT_EQ(ZDB_GetHost(host), 1000);
  EXPECT_STREQ(host, "localhost");  // without the colon and port
  ASSERT_EQ(peer.datagrams().size(), 1u);
  EXPECT_EQ(peer.datagrams()[0].data, (Bytes{48, 0, 0, 0, 0, 0}));
  EXPECT_EQ(peer.connections(), 0);  // selecting a host neither connects nor logs in

  EXPECT_EQ(ZDB_SelHost(nullptr), 2001);
  EXPECT_EQ(ZDB_SelHost(""), 2001);
  const std::string tooLong(257, '1');
  EXPECT_EQ(ZDB_SelHost(tooLong.c_str()), 2001);
  // 256 characters pass the selection's own test but not the probe's.
  std::string longest = "127.0.0.1:" + port;
  longest += std::string(256 - longest.size(), '0');
  EXPECT_EQ(ZDB_SelHost(longest.c_str()), 2601);
  // None of the failures replaced the Session.
  ASSERT_EQ(ZDB_GetHost(host), 1000);
  EXPECT_STREQ(host, "localhost");
  EXPECT_EQ(RegisteredSessionCount(), 1u);
}

TEST_F(SessionControl, DefaultModeHeadersAndConnections) {
  ScriptedPeer peer;
  Select(peer);
  ASSERT_EQ(ZDB_Init("user", "pw"), 1000);
  uint32_t version = 0x55;
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  EXPECT_EQ(version, 0x1234u);
  ASSERT_EQ(ZDB_Finish(), 1000);
  EXPECT_EQ(peer.opcodes(), (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"),
                                                   Opcode("GetVersion"), Opcode("Logout")}));
  EXPECT_EQ(peer.connections(), 4);  // one connection per request

  const auto reqs = peer.requests();
  const Bytes& login = reqs[0].raw;
  ASSERT_EQ(login.size(), 161u + 5 + 3);
  EXPECT_EQ(std::string(login.begin(), login.begin() + 9), "ZDBServer");
  EXPECT_EQ(Bytes(login.begin() + 9, login.begin() + 21),
            (Bytes{0x01, 0x00, 0x03, 0x00, 0x00, 0x20, 0x00, 0, 0, 0, 0, 2}));
  EXPECT_EQ(U32At(login, 21), 5u);
  EXPECT_EQ(U32At(login, 25), 3u);
  EXPECT_EQ(U32At(login, 85), 0u);
  EXPECT_EQ(U32At(login, 89), 5u);
  EXPECT_EQ(U32At(login, 149), 169u);
  EXPECT_EQ(U32At(login, 153), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(login, 157), 2001u);
  EXPECT_EQ(std::string(login.begin() + 161, login.end()), std::string("user\0pw\0", 8));

  // The caller's word goes out; the handle from the login travels in every later request.
  const Bytes& first = reqs[1].raw;
  EXPECT_EQ(U32At(first, 153), 0x1234u);
  EXPECT_EQ(U32At(first, 149), 165u);
  EXPECT_EQ(U32At(first, 161), 0u);  // the login's own version word starts at 0
  EXPECT_EQ(U32At(reqs[2].raw, 161), 0x55u);

  const Bytes& logout = reqs[3].raw;
  ASSERT_EQ(logout.size(), 161u);
  for (size_t i = 21; i < 149; ++i) ASSERT_EQ(logout[i], 0) << i;
  EXPECT_EQ(U32At(logout, 149), 161u);

  // Logged out, the next request logs in again with empty credentials.
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  const auto again = peer.requests();
  ASSERT_EQ(again.size(), 7u);
  EXPECT_EQ(again[4].header.opcode, Opcode("Login"));
  EXPECT_EQ(again[4].slots, (std::vector<Bytes>{Bytes{0}, Bytes{0}}));
}

TEST_F(SessionControl, PersistentModeHoldsOneConnectionUntilLogout) {
  ScriptedPeer peer;
  Select(peer);
  ASSERT_EQ(ZDB_Connection(0x101), 1000);  // only the low byte counts: 1
  ASSERT_EQ(SetConnectionOptions("XYZ"), 1000);
  uint32_t version = 0;
  ASSERT_EQ(ZDB_Init("a", "b"), 1000);
  EXPECT_EQ(ZDB_Connection(1), 2001);  // not while logged in
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  ASSERT_EQ(ZDB_Finish(), 1000);
  EXPECT_EQ(peer.connections(), 1);
  for (const auto& r : peer.requests()) {
    EXPECT_EQ(wire::GetU16(r.raw.data() + 11), 0x0013u);
    EXPECT_EQ(std::string(r.raw.begin() + 13, r.raw.begin() + 16), "XYZ");
  }
  // After the logout a new login opens a new connection; mode 2 holds it as well.
  ASSERT_EQ(ZDB_Connection(2), 1000);
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  EXPECT_EQ(peer.connections(), 2);
  EXPECT_EQ(wire::GetU16(peer.requests().back().raw.data() + 11), 0x0023u);
  // Any other mode goes back to a connection per request.
  ASSERT_EQ(ZDB_Finish(), 1000);
  ASSERT_EQ(ZDB_Connection(-3), 1000);
  ASSERT_EQ(ZDB_GetVersion(&version), 1000);
  EXPECT_EQ(peer.connections(), 5);  // logout on the held one, then login, version, version
  EXPECT_EQ(wire::GetU16(peer.requests().back().raw.data() + 11), 0x0003u);
}

TEST_F(SessionControl, LoginRulesAndVersionCheck) {
  ScriptedPeer peer;
  peer.SetVersion(0x1300);
  Select(peer);
  EXPECT_EQ(ZDB_Init("u", "p"), 2700);
  // Refused for its version, the Session is still logged in: nothing more is sent now.
  EXPECT_EQ(ZDB_Init("other", "creds"), 1000);
  EXPECT_EQ(ZDB_Init(nullptr, nullptr), 1000);  // not even looked at
  EXPECT_EQ(peer.opcodes(), (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion")}));
  uint32_t version = 0;
  EXPECT_EQ(ZDB_GetVersion(&version), 1000);
  EXPECT_EQ(version, 0x1300u);
  ASSERT_EQ(ZDB_Finish(), 1000);
  const size_t sent = peer.opcodes().size();
  EXPECT_EQ(ZDB_Init(nullptr, "p"), 2003);
  EXPECT_EQ(ZDB_GetVersion(nullptr), 2003);
  EXPECT_EQ(peer.opcodes().size(), sent);  // the null arguments sent nothing

  // The implicit login of a request is refused the same way; the next request goes through.
  EXPECT_EQ(ZDB_GetVersion(&version), 2700);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("GetVersion"),
                                   Opcode("Logout"), Opcode("Login"), Opcode("GetVersion")}));
  EXPECT_EQ(ZDB_GetVersion(&version), 1000);

  // A login refused by the server keeps the server's status and leaves the Session out.
  ASSERT_EQ(ZDB_Finish(), 1000);
  peer.OnOpcode(Opcode("Login"), [](const Request& r, PeerConnection& c) {
    c.ReplyFull(r, 4711, 0xFFFFFFFFu);
    return false;
  });
  EXPECT_EQ(ZDB_Init("u", "p"), 4711);
  EXPECT_EQ(ZDB_Finish(), 4711);  // its implicit login is refused too
}

TEST_F(SessionControl, FinishOfANeverLoggedInSessionLogsInFirst) {
  ScriptedPeer peer;
  Select(peer);
  ASSERT_EQ(ZDB_Finish(), 1000);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("Logout")}));
  // A Session that is not logged in sends nothing when it goes.
  const size_t sent = peer.opcodes().size();
  RemoveSessionForThread(platform::CurrentThreadId());
  EXPECT_EQ(peer.opcodes().size(), sent);
  EXPECT_EQ(RegisteredSessionCount(), 0u);
}

TEST_F(SessionControl, ErrorTextIsCopiedBackAndConverted) {
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("GetError"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, r.header.sessionHandle);
    const char text[] = "Fehler \xC9 \xBA";  // server e-acute, and a byte with no counterpart
    std::memcpy(reply.data() + 165, text, sizeof text);
    reply.back() = 'Q';
    return c.WriteInPieces(reply, 7, 2);  // several segments
  });
  Select(peer);
  char text[129];
  std::memset(text, 'k', sizeof text);
  ASSERT_EQ(ZDB_GetError(3003, text), 1000);
  EXPECT_STREQ(text, "Fehler \xE9  ");
  EXPECT_EQ(text[128], 'Q');  // all 129 bytes come back
  const Request last = peer.requests().back();
  EXPECT_EQ(last.header.opcode, Opcode("GetError"));
  EXPECT_EQ(last.raw.size(), 294u);
  EXPECT_EQ(last.SlotU32(0), 3003u);
  EXPECT_EQ(last.slots[1], Bytes(129, 'k'));  // the caller's buffer is sent as it is
  ASSERT_EQ(Z_GetError(2001, text), 1000);
  EXPECT_EQ(peer.requests().back().SlotU32(0), 2001u);

  EXPECT_EQ(ZDB_GetError(1, nullptr), 2003);
  const size_t before = peer.requests().size();
  peer.OnOpcode(Opcode("GetError"), [](const Request& r, PeerConnection& c) {
    c.ReplyFull(r, 1234);
    return false;
  });
  EXPECT_EQ(ZDB_GetError(7, text), 1234);  // the server's status, text copied all the same
  EXPECT_EQ(peer.requests().size(), before + 1);
}

TEST_F(SessionControl, TransportFailures) {
  uint32_t version = 0;
  char text[64];
  {
    ScriptedPeer peer;
    peer.OnOpcode(Opcode("GetVersion"), [](const Request& r, PeerConnection& c) {
      Bytes reply = PeerConnection::FullReply(r, 1000, 0);
      if (r.SlotU32(0) == 7) {
        c.Write(reply.data(), 100);  // then close in the middle of the reply
        return false;
      }
      wire::PutU32(reply.data() + 161, 0x1234);
      return c.Write(reply);
    });
    Select(peer);
    ASSERT_EQ(ZDB_Init("", ""), 1000);
    version = 7;
    EXPECT_EQ(ZDB_GetVersion(&version), 2001);
    EXPECT_EQ(version, 7u);  // nothing is copied from a broken reply
    EXPECT_EQ(ZDB_TCPError(text), 0);
    EXPECT_STREQ(text, "(0) WinSock Error !");
  }
  // The server is gone: a logged-in Session sees 2001 and the refusal's error number.
  EXPECT_EQ(ZDB_GetVersion(&version), 2001);
  const int refused = test::kErrConnectionRefused;
  EXPECT_EQ(ZDB_TCPError(text), refused);
  EXPECT_EQ(std::string(text), "(" + std::to_string(refused) + ") WinSock Error !");
  EXPECT_EQ(ZDB_TCPError(nullptr), refused);
  // A Session that is not logged in cannot connect at all: its login reports 2016.
  {
    ScriptedPeer other;
    Select(other);
  }
  EXPECT_EQ(ZDB_Init("", ""), 2016);
  EXPECT_EQ(ZDB_GetVersion(&version), 2016);  // through the implicit login
  EXPECT_EQ(ZDB_TCPError(text), refused);
}

}  // namespace
}  // namespace zdb
