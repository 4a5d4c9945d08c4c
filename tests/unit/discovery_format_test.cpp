#include <gtest/gtest.h>

#include "net/udp.h"

namespace zdb {
namespace {

TEST(Discovery, ClassfulBroadcastPerAddressClass) {
  EXPECT_EQ(ClassfulBroadcast(0x0A000005u), 0x0AFFFFFFu);  // 10.0.0.5 -> 10.255.255.255
  EXPECT_EQ(ClassfulBroadcast(0xAC100409u), 0xAC10FFFFu);  // 172.16.4.9 -> 172.16.255.255
  EXPECT_EQ(ClassfulBroadcast(0xC0A80107u), 0xC0A801FFu);  // 192.168.1.7 -> 192.168.1.255
  EXPECT_EQ(ClassfulBroadcast(0x7F000001u), 0x7FFFFFFFu);  // 127.0.0.1 -> 127.255.255.255
  EXPECT_EQ(ClassfulBroadcast(0x7F7F7F7Fu), 0x7FFFFFFFu);  // class edges: 127 is still A
  EXPECT_EQ(ClassfulBroadcast(0x80010203u), 0x8001FFFFu);  // 128 starts B
  EXPECT_EQ(ClassfulBroadcast(0xBFFE0102u), 0xBFFEFFFFu);  // 191 is still B
  EXPECT_EQ(ClassfulBroadcast(0xC0000000u), 0xC00000FFu);  // 192 starts C
  EXPECT_EQ(ClassfulBroadcast(0xE0000001u), 0xE00000FFu);  // and everything above
}

TEST(Discovery, EntryFormatAndBound) {
  wire::DiscoveryInfo info;
  info.text = "Main server";
  info.numbers[0] = 1;
  info.numbers[1] = 42;
  info.numbers[2] = 7;
  EXPECT_EQ(FormatServerEntry(info, 0xC0A80114u), "Main server,192.168.1.20,001-00042,07");
  info.numbers[0] = 65535;
  info.numbers[1] = 65535;
  info.numbers[2] = 123;
  EXPECT_EQ(FormatServerEntry(info, 0x7F000002u), "Main server,127.0.0.2,65535-65535,123");
  info.text = std::string(300, 'x');
  const std::string cut = FormatServerEntry(info, 0x7F000002u);
  EXPECT_EQ(cut, std::string(255, 'x'));
}

TEST(Discovery, ReplyTextEndsBeforeTheNumbers) {
  uint8_t reply[wire::kDiscoveryReplySize];
  wire::DiscoveryInfo sent;
  sent.text = std::string(200, 'y');
  wire::EncodeDiscoveryReply(sent, reply);
  reply[151] = 'z';  // no terminator before the numbers
  wire::DiscoveryInfo got;
  ASSERT_TRUE(wire::DecodeDiscoveryReply(reply, sizeof reply, got));
  EXPECT_EQ(got.text.size(), 114u);
  EXPECT_EQ(got.text.back(), 'z');
  EXPECT_FALSE(wire::DecodeDiscoveryReply(reply, 157, got));
}

TEST(HostText, SplitsAtTheFirstColon) {
  HostText t = SplitHostText("db.example:2600:7");
  EXPECT_EQ(t.name, "db.example");
  EXPECT_EQ(t.port, 2600u);
  t = SplitHostText("127.0.0.1");
  EXPECT_EQ(t.name, "127.0.0.1");
  EXPECT_EQ(t.port, 2500u);
  t = SplitHostText("127.0.0.1:x9");
  EXPECT_EQ(t.port, 0u);  // no leading digits
  t = SplitHostText("127.0.0.1:12ab");
  EXPECT_EQ(t.port, 12u);
  uint32_t address = 0;
  ASSERT_TRUE(ResolveHostName("127.0.0.9", &address));
  EXPECT_EQ(address, 0x7F000009u);
  ASSERT_TRUE(ResolveHostName("localhost", &address));
  EXPECT_EQ(address >> 24, 127u);
}

}  // namespace
}  // namespace zdb
