#include <gtest/gtest.h>

#include "session/session.h"
#include "support/scripted_peer.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

std::unique_ptr<Session> SessionFor(const test::ScriptedPeer& peer) {
  auto s = std::make_unique<Session>();
  s->hostName = "127.0.0.1";
  s->port = peer.port();
  s->serverAddress = {0x7F000001u, peer.port()};
  return s;
}

TEST(Exchange, ImplicitLoginThenRequestInDefaultMode) {
  test::ScriptedPeer peer;
  auto s = SessionFor(peer);
  uint8_t buf[4] = {1, 2, 3, 4};
  zdb::Request request(0x0001, Opcode("RebTable"), 1);
  ASSERT_EQ(s->PrepareRequest(request), kOk);
  request.SetSlot(0, 4, buf);
  EXPECT_EQ(s->Exchange(request), kOk);
  EXPECT_EQ(s->lastResult, kOk);
  EXPECT_EQ(s->sessionHandle, 0x1234u);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("RebTable")}));
  EXPECT_EQ(peer.connections(), 3);
  s.reset();  // logs out
  ASSERT_TRUE(peer.WaitForRequests(4));
  EXPECT_EQ(peer.opcodes().back(), Opcode("Logout"));
}

}  // namespace
}  // namespace zdb
