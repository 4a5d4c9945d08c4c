// Frames of the exchange for slot layouts the exported functions do not produce on their own.
#include <gtest/gtest.h>

#include <cstring>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::PeerConnection;
using test::Request;
using test::ScriptedPeer;

TEST(ExchangeFrames, SlotLayoutNullBuffersAndCopyBack) {
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("RebTable"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    for (size_t i = 161; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i);
    return c.Write(reply);
  });
  auto s = test::LoggedInSession(peer);
  uint8_t a[4] = {9, 8, 7, 6};
  uint8_t nothing[1] = {0xEE};
  uint8_t c[129];
  std::memset(c, 'c', sizeof c);
  zdb::Request request(0x0001, Opcode("RebTable"), 4);
  ASSERT_EQ(s->PrepareRequest(request), kOk);
  request.SetSlot(0, 4, a);
  request.SetSlot(1, 0, nothing);
  request.SetSlot(2, 129, c);
  request.SetSlot(3, 4, nullptr);
  ASSERT_EQ(s->Exchange(request), kOk);
  EXPECT_EQ(s->lastResult, 1000);

  const Request r = peer.requests().back();
  const Bytes& raw = r.raw;
  ASSERT_EQ(raw.size(), 161u + 4 + 0 + 129 + 4);
  EXPECT_EQ(raw[20], 4);
  const uint32_t lengths[16] = {4, 0, 129, 4};
  const uint32_t offsets[16] = {0, 4, 4, 133};
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(wire::GetU32(raw.data() + 21 + 4 * i), lengths[i]) << i;
    EXPECT_EQ(wire::GetU32(raw.data() + 85 + 4 * i), offsets[i]) << i;
  }
  EXPECT_EQ(wire::GetU32(raw.data() + 149), 298u);
  EXPECT_EQ(Bytes(raw.begin() + 161, raw.begin() + 165), (Bytes{9, 8, 7, 6}));
  EXPECT_EQ(Bytes(raw.end() - 4, raw.end()), (Bytes{0, 0, 0, 0}));  // the null-buffer slot

  // The reply's bytes land in the non-null buffers at the Session's offsets.
  EXPECT_EQ(a[0], 161);
  EXPECT_EQ(a[3], 164);
  EXPECT_EQ(nothing[0], 0xEE);
  EXPECT_EQ(c[0], 165);
  EXPECT_EQ(c[128], static_cast<uint8_t>(165 + 128));
}

TEST(ExchangeFrames, StatusOnlyReplies) {
  ScriptedPeer peer;
  int32_t next = 3003;
  peer.OnOpcode(Opcode("CpyField"), [&next](const Request&, PeerConnection& c) {
    if (next == 0) return false;  // close without a word: the preset status stays
    c.ReplyStatus(next);
    return false;
  });
  auto s = test::LoggedInSession(peer);
  uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  zdb::Request request2(0x8001, Opcode("CpyField"), 1);
  ASSERT_EQ(s->PrepareRequest(request2), kOk);
  request2.SetSlot(0, 8, buffer);
  EXPECT_EQ(s->Exchange(request2), kOk);
  EXPECT_EQ(s->lastResult, 3003);
  EXPECT_EQ(buffer[0], 1);  // a status-only reply writes no caller buffer
  EXPECT_EQ(s->sessionHandle, 0x1234u);
  EXPECT_EQ(peer.requests().back().raw[10], 0x80);

  next = 0;
  zdb::Request request3(0x8001, Opcode("CpyField"), 0);
  ASSERT_EQ(s->PrepareRequest(request3), kOk);
  EXPECT_EQ(s->Exchange(request3), kOk);
  EXPECT_EQ(s->lastResult, 2001);

  // Kind, opcode and count zero: nothing to do, nothing sent.
  const size_t sent = peer.requests().size();
  EXPECT_EQ(s->PrepareRequest(zdb::Request()), kOk);
  EXPECT_EQ(peer.requests().size(), sent);
}

TEST(ExchangeFrames, PersistentSocketIsKeptAfterAFailure) {
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("DelTXREF"), [](const Request& r, PeerConnection& c) {
    c.Write(PeerConnection::FullReply(r, 1000, 0).data(), 10);
    return false;  // the connection ends in the middle of the reply
  });
  auto s = test::LoggedInSession(peer, 0x10);
  const platform::Socket held = s->socket;
  ASSERT_NE(held, platform::kNoSocket);
  zdb::Request request4(0x0001, Opcode("DelTXREF"), 0);
  ASSERT_EQ(s->PrepareRequest(request4), kOk);
  EXPECT_EQ(s->Exchange(request4), kErrComm);
  EXPECT_EQ(s->lastResult, kErrComm);
  EXPECT_EQ(s->socket, held);  // a failure does not close a held connection
  // The next request goes to the same, dead connection rather than a new one.
  zdb::Request request5(0x0001, Opcode("XRefFromField"), 0);
  ASSERT_EQ(s->PrepareRequest(request5), kOk);
  EXPECT_EQ(s->Exchange(request5), kErrComm);
  EXPECT_EQ(peer.connections(), 1);
  EXPECT_EQ(s->socket, held);
}

}  // namespace
}  // namespace zdb
