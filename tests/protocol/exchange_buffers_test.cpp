// Frames sent from the caller's buffers and received into the buffer the Session keeps (or a
// buffer of their own when larger): every size sends the same bytes and fills the same slots.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/frame.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::PeerConnection;
using test::Request;
using test::ScriptedPeer;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 9));
  return b;
}

TEST(ExchangeBuffers, LargeAndSmallFramesInTurnSendAndReceiveEveryByte) {
  ScriptedPeer peer;
  // The reply carries the request's slot bytes turned around, so that every byte of the reply
  // differs from what the caller sent and from the reply before.
  peer.OnOpcode(Opcode("RebTable"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    for (size_t i = 161; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(~r.raw[i]);
    return c.Write(reply);
  });
  // One connection: partial sends and receives on a busy socket.
  auto s = test::LoggedInSession(peer, 0x10);

  // Below, at and above the kept buffer, then small again: the buffer grows, is bypassed and
  // is reused with stale bytes in it.
  const size_t sizes[] = {3, 70000, kKeptFrameBytes - 161 - 8, 3 * kKeptFrameBytes + 5, 1000, 0};
  for (size_t big : sizes) {
    SCOPED_TRACE(big);
    Bytes a = Pattern(big, 1), c = Pattern(big / 3 + 1, 2);
    const Bytes sentA = a, sentC = c;
    zdb::Request request(0x0001, Opcode("RebTable"), 4);
    ASSERT_EQ(s->PrepareRequest(request), kOk);
    request.SetSlot(0, static_cast<uint32_t>(a.size()), a.data());
    request.SetSlot(1, 4, nullptr);
    request.SetSlot(2, static_cast<uint32_t>(c.size()), c.data());
    request.SetSlot(3, 4, nullptr);
    ASSERT_EQ(s->Exchange(request), kOk);
    ASSERT_EQ(s->lastResult, 1000);

    const Bytes raw = peer.requests().back().raw;
    ASSERT_EQ(raw.size(), 161 + a.size() + 4 + c.size() + 4);
    EXPECT_EQ(wire::GetU32(raw.data() + 149), raw.size());
    const uint8_t* p = raw.data() + 161;
    EXPECT_EQ(Bytes(p, p + sentA.size()), sentA);
    p += sentA.size();
    EXPECT_EQ(Bytes(p, p + 4), Bytes(4, 0));  // a slot without a buffer sends zeros
    p += 4;
    EXPECT_EQ(Bytes(p, p + sentC.size()), sentC);
    p += sentC.size();
    EXPECT_EQ(Bytes(p, p + 4), Bytes(4, 0));

    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != static_cast<uint8_t>(~sentA[i])) FAIL() << "slot 0 byte " << i;
    for (size_t i = 0; i < c.size(); ++i)
      if (c[i] != static_cast<uint8_t>(~sentC[i])) FAIL() << "slot 2 byte " << i;
  }
}

TEST(ExchangeBuffers, ReplyCutShortLeavesTheSlotsAsTheyWere) {
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("UpdTable"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    std::memset(reply.data() + 161, 0xAB, reply.size() - 161);
    c.Write(reply.data(), reply.size() - 1);
    return false;  // closes before the last byte
  });
  auto s = test::LoggedInSession(peer);
  for (size_t n : {size_t{16}, kKeptFrameBytes}) {
    Bytes a = Pattern(n, 5);
    const Bytes before = a;
    zdb::Request request(0x0001, Opcode("UpdTable"), 1);
    ASSERT_EQ(s->PrepareRequest(request), kOk);
    request.SetSlot(0, static_cast<uint32_t>(a.size()), a.data());
    EXPECT_EQ(s->Exchange(request), 2001);
    EXPECT_EQ(s->lastResult, 2001);
    EXPECT_EQ(a, before);
  }
}

// A request like the one before sends the header kept from it; any input that differs must
// give the header of its own request, never the kept one.
TEST(ExchangeBuffers, EveryRequestSendsTheHeaderOfItsOwnInputs) {
  ScriptedPeer peer;
  for (uint32_t op : {Opcode("RebTable"), Opcode("UpdTable")})
    peer.OnOpcode(op, [](const Request& r, PeerConnection& c) {
      return c.Write(PeerConnection::FullReply(r, 1000, 0));
    });
  auto s = test::LoggedInSession(peer, 0x10);

  struct Step {
    const char* what;
    uint32_t opcode;
    std::vector<uint32_t> lengths;
    std::array<uint8_t, 3> chars;
    uint16_t options;
    uint32_t handle;
  };
  const std::array<uint8_t, 3> plain{0x00, 0x20, 0x00}, other{0x01, 0x2C, 0x02};
  const uint32_t h = s->sessionHandle;
  const Step steps[] = {
      {"first", Opcode("RebTable"), {4}, plain, 0x10, h},
      {"same again", Opcode("RebTable"), {4}, plain, 0x10, h},
      {"other opcode", Opcode("UpdTable"), {4}, plain, 0x10, h},
      {"longer slot", Opcode("UpdTable"), {9}, plain, 0x10, h},
      {"one slot more", Opcode("UpdTable"), {9, 2}, plain, 0x10, h},
      {"one slot less", Opcode("UpdTable"), {9}, plain, 0x10, h},
      {"no slot", Opcode("UpdTable"), {}, plain, 0x10, h},
      {"other characters", Opcode("UpdTable"), {}, other, 0x10, h},
      {"other options", Opcode("UpdTable"), {}, other, 0x20, h},
      {"other handle", Opcode("UpdTable"), {}, other, 0x20, h + 1},
      {"back to the first", Opcode("RebTable"), {4}, plain, 0x10, h},
  };
  uint8_t buffer[16] = {};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    s->headerChars = step.chars;
    s->connectionOptions = step.options;
    s->sessionHandle = step.handle;
    const auto count = static_cast<int8_t>(step.lengths.size());
    zdb::Request request(0x0001, step.opcode, count);
    ASSERT_EQ(s->PrepareRequest(request), kOk);
    for (int8_t i = 0; i < count; ++i) request.SetSlot(i, step.lengths[i], buffer);
    ASSERT_EQ(s->Exchange(request), kOk);

    wire::FrameHeader want;
    want.kind = 1;
    want.connectionOptions = step.options;
    want.chars = step.chars;
    want.opcode = step.opcode;
    wire::LayoutSlots(want, step.lengths.data(), count);
    want.sessionHandle = step.handle;
    want.status = wire::kStatusPreset;
    Bytes header(wire::kHeaderSize);
    wire::EncodeHeader(want, header.data());
    const Bytes raw = peer.requests().back().raw;
    ASSERT_GE(raw.size(), wire::kHeaderSize);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + wire::kHeaderSize), header);
  }
  s->sessionHandle = h;
}

}  // namespace
}  // namespace zdb
