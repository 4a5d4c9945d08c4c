#include <gtest/gtest.h>

#include <cstring>

#include "requests/request_table.h"
#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

// A request of every argument kind, under an operation whose shape leaves its slots open.
constexpr wire::Operation kMixedOperation{"Mixed", wire::kPlain, Opcode("NumUsers"), ">"};
constexpr RequestSpec kMixed{
    "Mixed",
    kMixedOperation,
    {Text(0), ServerText(1), Value(2), Value16(2), Counter(3), Sized(4, 9, 5)}};

TEST(RequestTable, EachArgumentKindBecomesItsSlotAndFullRepliesCopyBack) {
  test::ScriptedPeer peer;
  peer.OnOpcode(Opcode("NumUsers"), [](const test::Request& req, test::PeerConnection& c) {
    test::Bytes reply = test::PeerConnection::FullReply(req, 1234, 0);
    uint8_t* data = reply.data() + wire::kHeaderSize;
    data[0] = 'X';                                         // text slot comes back changed
    wire::PutU32(data + 3 + 2 + 4 + 2, 77);                // counter
    std::memcpy(data + 3 + 2 + 4 + 2 + 4, "abcdefgh", 9);  // first sized element
    return c.Write(reply);
  });
  auto s = test::LoggedInSession(peer);
  char text[] = "ab";
  int32_t counter = 5;
  char names[18] = {};
  RequestScratch scratch;
  EXPECT_EQ(ExecuteRequest(*s, kMixed,
                           {text, "\x15", static_cast<int32_t>(0x00070102), &counter, names, 2},
                           &scratch),
            1234);
  auto req = peer.requests().back();
  ASSERT_EQ(req.header.paramCount, 6);
  EXPECT_EQ(req.slots[0], (test::Bytes{'a', 'b', 0}));
  EXPECT_EQ(req.slots[1], (test::Bytes{0xEB, 0}));  // converted copy, caller text untouched
  EXPECT_EQ(req.slots[2], (test::Bytes{0x02, 0x01, 0x07, 0x00}));
  EXPECT_EQ(req.slots[3], (test::Bytes{0x02, 0x01}));
  EXPECT_EQ(req.slots[4], (test::Bytes{5, 0, 0, 0}));
  EXPECT_EQ(req.slots[5].size(), 18u);
  EXPECT_EQ(req.header.total, 161u + 3 + 2 + 4 + 2 + 4 + 18);
  EXPECT_EQ(text[0], 'X');
  EXPECT_EQ(counter, 77);
  EXPECT_STREQ(names, "abcdefgh");
}

TEST(RequestTable, UnusableArgumentsSendNothing) {
  test::ScriptedPeer peer;
  auto s = test::LoggedInSession(peer);
  const size_t before = peer.requests().size();
  int32_t counter = 0;
  char names[9];
  EXPECT_EQ(ExecuteRequest(*s, kMixed, {nullptr, "a", 1, &counter, names, 1}), kErrArgument);
  EXPECT_EQ(ExecuteRequest(*s, kMixed, {"a", "a", 1, &counter, names, -1}), kErrArgument);
  EXPECT_EQ(ExecuteRequest(*s, kMixed, {"a", "a", 1, &counter, names}), kErrArgument);
  EXPECT_EQ(peer.requests().size(), before);
}

}  // namespace
}  // namespace zdb
