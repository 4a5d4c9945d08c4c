#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/catalogue.h"
#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "zdb/frame_parser.h"

using zdb::wire::Opcode;

namespace zdb::trace {
namespace {

std::vector<uint8_t> Frame(uint16_t kindFlags, uint32_t opcode,
                           std::vector<std::vector<uint8_t>> slots, int32_t status = 2001,
                           uint32_t handle = 0x1234) {
  wire::FrameHeader h;
  h.kind = static_cast<uint8_t>(kindFlags & 0xFF);
  h.flags = static_cast<uint8_t>(kindFlags >> 8);
  h.opcode = opcode;
  std::vector<uint32_t> lengths;
  for (auto& s : slots) lengths.push_back(static_cast<uint32_t>(s.size()));
  wire::LayoutSlots(h, lengths.data(), static_cast<int>(lengths.size()));
  h.sessionHandle = handle;
  h.status = status;
  std::vector<uint8_t> out(wire::kHeaderSize);
  wire::EncodeHeader(h, out.data());
  for (auto& s : slots) out.insert(out.end(), s.begin(), s.end());
  return out;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& b) {
  to.insert(to.end(), b.begin(), b.end());
}

std::vector<uint8_t> Record(std::vector<uint8_t> data) {
  std::vector<uint8_t> r(4);
  wire::PutI32(r.data(), static_cast<int32_t>(data.size()));
  Append(r, data);
  return r;
}

struct Harness {
  std::deque<ExpectedReply> replies;
  std::vector<std::string> lines;
  RequestParser requests{[this](const std::string& s) { lines.push_back(s); }, &replies};
  ReplyParser answers{[this](const std::string& s) { lines.push_back(s); }, &replies};
};

// Feeding byte by byte must give the same events as whole buffers: TCP keeps no boundaries.
void FeedBytewise(RequestParser& p, const std::vector<uint8_t>& b) {
  for (uint8_t c : b) ASSERT_TRUE(p.Feed(&c, 1));
}

TEST(TraceParser, FollowsAFullRequestAndReplyEvenBytewise) {
  Harness h;
  auto req = Frame(0x0001, Opcode("GetField"), {{'N', 'A', 'M', 'E', 0}, {0, 0, 0, 0}});
  FeedBytewise(h.requests, req);
  ASSERT_EQ(h.lines.size(), 1u);
  EXPECT_NE(h.lines[0].find("-> op 27 kind 1 flags 0x00"), std::string::npos);
  EXPECT_NE(h.lines[0].find("[0] 5: \"NAME\""), std::string::npos);
  EXPECT_NE(h.lines[0].find("[1] 4: 00000000"), std::string::npos);
  auto reply = req;
  wire::PutI32(reply.data() + wire::kOffStatus, 1000);
  for (uint8_t c : reply) ASSERT_TRUE(h.answers.Feed(&c, 1));
  ASSERT_EQ(h.lines.size(), 2u);
  EXPECT_EQ(h.lines[1], "<- status 1000, full reply of 170 bytes");
}

TEST(TraceParser, FollowsAScriptRunWithFileAndRecordStreams) {
  Harness h;
  std::vector<uint8_t> up = Frame(0xD002, Opcode("SqlRun"), {{'c', 0}, {'o', 0}, {1, 0, 0, 0}});
  uint8_t fileHeader[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(5, fileHeader);
  up.insert(up.end(), fileHeader, fileHeader + sizeof fileHeader);
  Append(up, {'s', 'e', 'l', 'e', 'c'});
  Append(up, Frame(0x8001, Opcode("Write"), {}));  // the next request follows the file
  ASSERT_TRUE(h.requests.Feed(up.data(), up.size()));
  ASSERT_EQ(h.lines.size(), 3u);
  EXPECT_EQ(h.lines[1], "-> file of 5 bytes");
  EXPECT_NE(h.lines[2].find("-> op 25"), std::string::npos);

  std::vector<uint8_t> down;
  Append(down, Record({'a', 'b', 'c'}));
  Append(down, Record({}));
  Append(down, Record({0x03, 0x05}));  // length 2 but not the end mark
  Append(down, Record(std::vector<uint8_t>(5000, 'x')));
  Append(down, Record({0x03, 0x04}));
  Append(down, {0xE8, 0x03, 0, 0});  // status 1000
  Append(down, {0xD1, 0x07, 0, 0});  // status 2001 of the second request
  ASSERT_TRUE(h.answers.Feed(down.data(), down.size()));
  ASSERT_EQ(h.lines.size(), 6u);
  EXPECT_EQ(h.lines[3], "<- 4 records, 5005 bytes, end mark");
  EXPECT_EQ(h.lines[4], "<- status 1000");
  EXPECT_EQ(h.lines[5], "<- status 2001");
}

TEST(TraceParser, GivesUpOnBytesThatAreNoProtocol) {
  Harness h;
  std::vector<uint8_t> junk(200, 'A');
  EXPECT_FALSE(h.requests.Feed(junk.data(), junk.size()));
  EXPECT_FALSE(h.answers.Feed(junk.data(), junk.size()));  // nothing was asked
  auto bad = Frame(0x0001, Opcode("UseDB"), {{1, 2}});
  wire::PutU32(bad.data() + wire::kOffTotal, 999);  // total does not add up
  Harness h2;
  EXPECT_FALSE(h2.requests.Feed(bad.data(), bad.size()));
}

}  // namespace
}  // namespace zdb::trace
