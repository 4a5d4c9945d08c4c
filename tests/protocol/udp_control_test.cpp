// Probe, stop and discovery against the scripted peer's UDP side. Discovery is only ever given
// loopback addresses through the local-address seam.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/automation.h"
#include "platform/platform.h"
#include "session/registry.h"
#include "support/scripted_peer.h"
#include "support/test_platform.h"
#include "wire/control.h"
#include "zdb_api.h"

namespace zdb {
namespace {

using test::Bytes;
using test::ScriptedPeer;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001u;

Bytes Control(uint16_t code) {
  Bytes b(wire::kControlSize);
  wire::EncodeControl(code, b.data());
  return b;
}

Bytes DiscoveryReply(const std::string& text, uint16_t a, uint16_t b, uint16_t c) {
  wire::DiscoveryInfo info;
  info.text = text;
  info.numbers[0] = a;
  info.numbers[1] = b;
  info.numbers[2] = c;
  Bytes reply(wire::kDiscoveryReplySize);
  wire::EncodeDiscoveryReply(info, reply.data());
  return reply;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class UdpControl : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocalAddressSource([](std::vector<uint32_t>* out) {
      out->push_back(kLoopback);
      return true;
    });
  }
  void TearDown() override {
    platform::SetLocalAddressSource(nullptr);
    RemoveSessionForThread(platform::CurrentThreadId());
  }
};

TEST_F(UdpControl, ProbeAnsweredSilentAndOtherCodesFirst) {
  ScriptedPeer peer;
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  EXPECT_EQ(ZDB_IsActive(peer.host().c_str()), 2600);
  EXPECT_EQ(peer.datagrams().back().data, Control(48));

  // Another code arrives first, then the answer after a pause: the probe waits for it.
  peer.OnUdp([](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    p.SendUdp(Control(16), kLoopback, d.fromAddress, d.fromPort);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    p.SendUdp(Control(48), kLoopback, d.fromAddress, d.fromPort);
  });
  auto start = Clock::now();
  EXPECT_EQ(ZDB_IsActive(peer.host().c_str()), 2600);
  EXPECT_GE(SecondsSince(start), 0.25);

  peer.OnUdp([](const ScriptedPeer::Datagram&, ScriptedPeer&) {});
  start = Clock::now();
  EXPECT_EQ(ZDB_IsActive(peer.host().c_str()), 2601);
  EXPECT_GE(SecondsSince(start), 1.9);

  EXPECT_EQ(ZDB_IsActive(nullptr), 2001);
  EXPECT_EQ(ZDB_IsActive(""), 2001);
  EXPECT_EQ(ZDB_IsActive(std::string(256, '1').c_str()), 2001);
}

TEST_F(UdpControl, StopAcknowledgedThenSilentOrStillAnswering) {
  ScriptedPeer peer;
  std::atomic<bool> stopped{false};
  std::atomic<bool> obeys{true};
  peer.OnUdp([&](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    const uint16_t code = wire::DecodeControlCode(d.data.data(), d.data.size());
    if (code == 32) {
      p.SendUdp(Control(32), kLoopback, d.fromAddress, d.fromPort);
      stopped = obeys.load();
    } else if (code == 48 && !stopped) {
      p.SendUdp(Control(48), kLoopback, d.fromAddress, d.fromPort);
    }
  });
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  obeys = false;
  EXPECT_EQ(ZDB_Stop(peer.host().c_str()), 2605);
  obeys = true;
  EXPECT_EQ(ZDB_Stop(peer.host().c_str()), 2606);
  std::vector<uint16_t> codes;
  for (const auto& d : peer.datagrams()) codes.push_back(wire::GetU16(d.data.data()));
  EXPECT_EQ(codes, (std::vector<uint16_t>{48, 48, 32, 48, 48, 32, 48}));
  // Once stopped, the first probe goes unanswered.
  EXPECT_EQ(ZDB_Stop(peer.host().c_str()), 2601);
  EXPECT_EQ(peer.connections(), 0);  // none of it logs in
}

TEST_F(UdpControl, DiscoveryFormatsBoundsAndFreesEntries) {
  if (test::RunningUnderWine())
    GTEST_SKIP() << "Wine delivers no loopback broadcast to the peer (not seen on Linux)";
  ScriptedPeer peer(/*udpAnyAddress=*/true);
  peer.OnUdp([](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    if (d.data != Control(16)) return;
    p.SendUdp(DiscoveryReply("self", 9, 9, 9), kLoopback, d.fromAddress, d.fromPort);
    p.SendUdp(Control(48), 0x7F000005u, d.fromAddress, d.fromPort);     // another code
    p.SendUdp(Bytes(100, 16), 0x7F000006u, d.fromAddress, d.fromPort);  // too short
    p.SendUdp(DiscoveryReply("alpha", 1, 42, 7), 0x7F000002u, d.fromAddress, d.fromPort);
    p.SendUdp(DiscoveryReply("beta", 2, 3, 4), 0x7F000003u, d.fromAddress, d.fromPort);
    p.SendUdp(DiscoveryReply("gamma", 0, 0, 0), 0x7F000004u, d.fromAddress, d.fromPort);
  });
  char* list[5] = {};
  list[4] = reinterpret_cast<char*>(1);  // beyond max: never touched
  EXPECT_EQ(ZDB_GetServers(list, 2, peer.port()), 2);
  ASSERT_NE(list[0], nullptr);
  ASSERT_NE(list[1], nullptr);
  EXPECT_STREQ(list[0], "alpha,127.0.0.2,001-00042,07");
  EXPECT_STREQ(list[1], "beta,127.0.0.3,002-00003,04");
  EXPECT_EQ(list[2], nullptr);
  ASSERT_FALSE(peer.datagrams().empty());
  EXPECT_EQ(peer.datagrams()[0].data, Control(16));
  EXPECT_EQ(RegisteredSessionCount(), 0u);  // the temporary Session is gone again

  // The same list again: the first call's texts are freed (the leak checker would see them)
  // and empty texts follow the last entry.
  const auto start = Clock::now();
  EXPECT_EQ(ZDB_GetServers(list, 4, peer.port()), 3);
  EXPECT_GE(SecondsSince(start), 1.9);  // ends 2 seconds after the last reply
  EXPECT_STREQ(list[2], "gamma,127.0.0.4,000-00000,00");
  ASSERT_NE(list[3], nullptr);
  EXPECT_STREQ(list[3], "");
  EXPECT_EQ(list[4], reinterpret_cast<char*>(1));
  EXPECT_EQ(ZDB_GetServers(list, 4, 0), 0);  // nobody listens on the default port here
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(list[i] == nullptr || *list[i] == 0) << i;
  EXPECT_EQ(ZDB_GetServers(list, 0, peer.port()), 0);
  for (int i = 0; i < 4; ++i) std::free(list[i]);
  EXPECT_EQ(ZDB_GetServers(nullptr, 3, peer.port()), 2003);
}

TEST_F(UdpControl, DiscoveryIntoAutomationArrays) {
  if (test::RunningUnderWine())
    GTEST_SKIP() << "Wine delivers no loopback broadcast to the peer (not seen on Linux)";
  ScriptedPeer peer(/*udpAnyAddress=*/true);
  peer.OnUdp([](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    p.SendUdp(DiscoveryReply("one", 1, 1, 1), 0x7F000002u, d.fromAddress, d.fromPort);
    p.SendUdp(DiscoveryReply("two", 2, 2, 2), 0x7F000003u, d.fromAddress, d.fromPort);
  });
  ScriptedPeer own;
  ASSERT_EQ(ZDB_SelHost(own.host().c_str()), 1000);  // uses this thread's Session

  SAFEARRAY* array = nullptr;
  ASSERT_EQ(DB_GetServers(&array, 2, peer.port()), 2);
  ASSERT_NE(array, nullptr);
  platform::ArrayIndex lo = -1, hi = -1;
  SafeArrayGetLBound(array, 1, &lo);
  SafeArrayGetUBound(array, 1, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 1);
  platform::ArrayIndex index = 1;
  BSTR second = nullptr;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &second), 0);
  const std::string expected = "two,127.0.0.3,002-00002,02";
  EXPECT_EQ(SysStringByteLen(second), expected.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(second), expected.size()), expected);
  SysFreeString(second);
  SafeArrayDestroy(array);

  // An existing array with one place: filled, then 2001 for the entry that does not fit.
  SAFEARRAYBOUND oneBound{1, 0};
  array = SafeArrayCreate(VT_BSTR, 1, &oneBound);
  EXPECT_EQ(DB_GetServers(&array, 2, peer.port()), 2001);
  index = 0;
  BSTR first = nullptr;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &first), 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(first), SysStringByteLen(first)),
            "one,127.0.0.2,001-00001,01");
  SysFreeString(first);
  SafeArrayDestroy(array);

  SAFEARRAYBOUND twoBounds[2] = {{2, 0}, {2, 0}};
  array = SafeArrayCreate(VT_BSTR, 2, twoBounds);
  EXPECT_EQ(DB_GetServers(&array, 2, peer.port()), 2003);
  SafeArrayDestroy(array);
  EXPECT_EQ(DB_GetServers(nullptr, 2, peer.port()), 2003);
  EXPECT_EQ(own.connections(), 0);
}

}  // namespace
}  // namespace zdb
