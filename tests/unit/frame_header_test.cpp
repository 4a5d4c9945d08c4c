#include <gtest/gtest.h>

#include <cstring>

#include "wire/catalogue.h"
#include "wire/frame.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdb::wire {
namespace {

TEST(FrameHeader, SlotLayoutAndRoundTrip) {
  FrameHeader h;
  h.kind = 1;
  h.flags = 0x80;
  h.connectionOptions = 3;
  h.chars = {0x00, 0x20, 0x00};
  h.opcode = Opcode("GetField");
  const uint32_t lengths[3] = {4, 0, 129};
  LayoutSlots(h, lengths, 3);
  h.sessionHandle = 0xFFFFFFFF;
  h.status = 2001;
  EXPECT_EQ(h.total, 294u);
  EXPECT_EQ(h.offsets[0], 0u);
  EXPECT_EQ(h.offsets[1], 4u);
  EXPECT_EQ(h.offsets[2], 4u);
  EXPECT_TRUE(HeaderIsConsistent(h));

  uint8_t buf[kHeaderSize];
  EncodeHeader(h, buf);
  EXPECT_EQ(0, std::memcmp(buf, "ZDBServer", 9));
  EXPECT_EQ(buf[9], 1);
  EXPECT_EQ(buf[10], 0x80);
  EXPECT_EQ(GetU16(buf + 11), 3);
  EXPECT_EQ(buf[14], 0x20);
  EXPECT_EQ(GetU32(buf + 16), 27u);
  EXPECT_EQ(buf[20], 3);
  EXPECT_EQ(GetU32(buf + 21 + 8), 129u);
  EXPECT_EQ(GetU32(buf + 85 + 8), 4u);
  EXPECT_EQ(GetU32(buf + 149), 294u);
  EXPECT_EQ(GetU32(buf + 153), 0xFFFFFFFFu);
  EXPECT_EQ(GetI32(buf + 157), 2001);

  FrameHeader back;
  ASSERT_TRUE(DecodeHeader(buf, back));
  EXPECT_EQ(back.kindFlags(), 0x8001);
  EXPECT_EQ(back.lengths, h.lengths);
  EXPECT_EQ(back.offsets, h.offsets);
  buf[0] = 'X';
  EXPECT_FALSE(DecodeHeader(buf, back));
}

TEST(FrameHeader, InconsistentHeadersAreRecognised) {
  FrameHeader h;
  const uint32_t lengths[2] = {4, 8};
  LayoutSlots(h, lengths, 2);
  EXPECT_TRUE(HeaderIsConsistent(h));
  h.total += 1;
  EXPECT_FALSE(HeaderIsConsistent(h));
  h.total -= 1;
  h.offsets[1] = 3;
  EXPECT_FALSE(HeaderIsConsistent(h));
  h.offsets[1] = 4;
  h.paramCount = 17;
  EXPECT_FALSE(HeaderIsConsistent(h));
}

}  // namespace
}  // namespace zdb::wire
