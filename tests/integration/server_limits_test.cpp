// zdbd's bounds that clients meet in ordinary use: the default mode's connection per request
// must not run the client out of ports, every export imports back, durability is as asked.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

TEST(ServerLimits, WhateverIsExportedImportsBackAndLargerIsRefusedInStep) {
  // The real limit is the file stream's 2 GiB; a 256 KiB limit shows the rule at a small size
  // (a fresh database with its metadata tables already takes some tens of pages).
  constexpr size_t kLimit = 256 * 1024;
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--max-file", std::to_string(kLimit)});
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  RawSession s(port);
  MakePeople(s, "SMALL", 3);
  MakePeople(s, "BIG", 3);
  // BIG grows past the limit: 20000 more records of 20 characters.
  ScriptRun grow = Script(
      port, s.handle(),
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE "
      "x < 20000) INSERT INTO PEOPLE(NAME) SELECT " +
          std::string(OnPostgres() ? "lpad(x::text, 20, '0')" : "printf('%020d', x)") + " FROM c;");
  ASSERT_EQ(grow.status, 1000);
  EXPECT_TRUE(grow.records.empty());
  FileReply small = Export(port, s.handle(), "SMALL");
  ASSERT_EQ(small.status, 1000);
  ASSERT_GT(small.file.size(), 4096u);
  ASSERT_LE(small.file.size(), kLimit);
  FileReply back = Import(port, s.handle(), "COPY", small.file);
  EXPECT_EQ(back.status, 1000);
  EXPECT_NE(back.file.find("table PEOPLE: 3 records"), std::string::npos);

  FileReply big = Export(port, s.handle(), "BIG");
  EXPECT_EQ(big.status, 4111);
  EXPECT_TRUE(big.file.empty());
  // An upload over the limit is read to its end and answered, the connection kept in step.
  std::string oversize(kLimit + 1, 'x');
  FileReply refused = Import(port, s.handle(), "OVER", oversize);
  EXPECT_EQ(refused.status, 4111);
  EXPECT_NE(refused.file.find("File too large"), std::string::npos);
  EXPECT_EQ(s.Status(Opcode("UseDB"), {TextSlot("OVER")}), 4011);
  EXPECT_EQ(s.Status(Opcode("UseDB"), {TextSlot("COPY")}), 1000);
}

// TIME-WAIT sockets in /proc/net/tcp whose local (or remote) port is `port`.
size_t TimeWaitOn(uint16_t port, bool local) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  size_t n = 0;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string slot, localAddr, remoteAddr, state;
    f >> slot >> localAddr >> remoteAddr >> state;
    const std::string& addr = local ? localAddr : remoteAddr;
    unsigned long p = std::strtoul(addr.substr(addr.find(':') + 1).c_str(), nullptr, 16);
    if (state == "06" && p == port) ++n;
  }
  return n;
}

TEST(ServerLimits, DefaultModeClosesFromTheServerSoTheClientKeepsItsPorts) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data");
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  // The server closes a default-mode connection after its one reply, without the client's help.
  {
    RawClient c(port);
    RawReply v = c.Call(0x0001, Opcode("GetVersion"), {U32Slot(0)}, 0xFFFFFFFF);
    ASSERT_TRUE(v.ok);
    EXPECT_TRUE(c.ClosedByPeer(2000));
  }
  // As many requests as a client of the default mode sends in a busy hour, each on a connection
  // of its own: with the waiting state on the client's side they would exhaust its ports (about
  // 28,000 of them). The sanitizer builds, several times slower, send 30,000, still more than
  // the ports; ZDBD_DEFAULT_MODE_REQUESTS sets another number.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  long total = 30000;
#else
  long total = 100000;
#endif
  if (const char* env = std::getenv("ZDBD_DEFAULT_MODE_REQUESTS")) total = std::atol(env);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  long failed = 0, done = 0;
  for (; done < total && std::chrono::steady_clock::now() < deadline; ++done) {
    RawReply v = CallOnce(port, 0x0001, Opcode("GetVersion"), {U32Slot(0)}, 0xFFFFFFFF);
    if (!v.ok || v.status != 1000 || wire::GetU32(v.slots[0].data()) != 0x1210u) ++failed;
  }
  EXPECT_EQ(done, total) << "stopped at the five-minute bound";
  EXPECT_EQ(failed, 0);
  // The waiting sockets are the server's: its port is their local one.
  size_t clientSide = TimeWaitOn(port, false), serverSide = TimeWaitOn(port, true);
  EXPECT_LT(clientSide, static_cast<size_t>(done / 10)) << serverSide << " on the server's side";
  EXPECT_GT(serverSide, clientSide);
}

TEST(ServerLimits, DurabilityIsAsAsked) {
  for (bool durable : {false, true}) {
    TempDir dir;
    std::vector<std::string> args;
    if (durable) args.push_back("--durable");
    ZdbdProcess server(dir.path() + "/data", args);
    ASSERT_TRUE(server.running());
    RawSession s(server.port());
    MakePeople(s, "SHOP", 1);
    // SQLite's FULL and NORMAL; PostgreSQL's commit that waits for the log on disk, or not.
    ScriptRun mode = Script(server.port(), s.handle(),
                            OnPostgres() ? "SHOW synchronous_commit;" : "PRAGMA synchronous;");
    ASSERT_EQ(mode.status, 1000);
    ASSERT_EQ(mode.records.size(), 1u);
    const std::string& row = mode.records[0];
    EXPECT_EQ(row, OnPostgres() ? (durable ? "on\n" : "off\n") : (durable ? "2\n" : "1\n"));
    EXPECT_NE(server.Log().find(durable ? "(full durability)" : "(normal durability)"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace zdb::test
