#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/scripted_peer.h"
#include "wire/catalogue.h"
#include "zdb/trace.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::trace {
namespace {

std::string ReadAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

// The library talks to the scripted peer through the relay: every byte must arrive unchanged
// in both directions (UDP probe included) while the relay prints what it saw.
TEST(TraceRelay, RelaysTcpAndUdpUnchangedAndDescribesThem) {
  test::ScriptedPeer peer;
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  std::atomic<bool> stop{false};
  TraceOptions o;
  o.upstreamPort = peer.port();
  o.maxConnections = 3;  // login, version, the request
  std::thread relay([&] { RunTracer(o, out, stop); });
  int port = 0;
  for (int i = 0; i < 200 && port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::sscanf(ReadAll(out).c_str(), "tracing 127.0.0.1:%d", &port);
  }
  ASSERT_NE(port, 0);
  const std::string host = "127.0.0.1:" + std::to_string(port);
  ASSERT_EQ(ZDB_SelHost(host.c_str()), ZDB_OK);
  char text[129] = "abc";
  EXPECT_EQ(ZDB_GetError(2001, text), ZDB_OK);  // the peer echoes the slots
  EXPECT_STREQ(text, "abc");
  relay.join();
  const std::string log = ReadAll(out);
  std::fclose(out);
  EXPECT_EQ(peer.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("GetError")}));
  EXPECT_NE(log.find("udp -> probe"), std::string::npos) << log;
  EXPECT_NE(log.find("udp <- probe (6 bytes)"), std::string::npos) << log;
  EXPECT_NE(log.find("#1 <- status 1000, full reply of 163 bytes, handle 0x00001234"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("#3 -> op 120 kind 1 flags 0x00 options 0x0003 handle 0x00001234 total 294"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[1] 129: \"abc\""), std::string::npos) << log;
}

}  // namespace
}  // namespace zdb::trace
