// zdbd against clients that trickle, stall, hoard or never finish: none of them may stall the
// server for anyone else, keep it from stopping, or cost a request its answer. Raw sockets only.
#include <atomic>
#include <chrono>
#include <thread>

#include "integration/server_raw.h"
#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/file_block.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using namespace std::chrono_literals;

// True when a probe datagram to the server's port is answered within two seconds.
bool ProbeAnswered(uint16_t port) {
  Bytes reply = ControlExchange(port, wire::kCodeProbe);
  return reply.size() >= 2 && wire::GetU16(reply.data()) == wire::kCodeProbe;
}

// A script request with its upload header; the script's bytes follow separately.
Bytes ScriptHead(uint32_t handle, size_t scriptSize) {
  Bytes frame = RawClient::Frame(0xD002, Opcode("SqlRun"),
                                 {TextSlot("s"), TextSlot("o"), U32Slot(0)}, handle);
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(scriptSize), head);
  frame.insert(frame.end(), head, head + sizeof head);
  return frame;
}

// Reads a record stream to its end mark, then the status; -1 when the connection broke first.
int32_t ReadScriptReply(RawClient& c, std::vector<std::string>* records) {
  for (;;) {
    uint8_t len[4];
    if (!c.ReadExact(len, 4)) return -1;
    std::string rec(wire::GetU32(len), '\0');
    if (!rec.empty() && !c.ReadExact(rec.data(), rec.size())) return -1;
    if (rec == "\x03\x04") break;
    if (records) records->push_back(rec);
  }
  uint8_t st[4];
  return c.ReadExact(st, 4) ? wire::GetI32(st) : -1;
}

// Reads and drops whatever comes until the server closes the connection; false when it is
// still open after `ms` or more than `maxBytes` came.
bool DrainUntilClosed(RawClient& c, size_t maxBytes, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  uint8_t buf[65536];
  for (size_t got = 0; got <= maxBytes && std::chrono::steady_clock::now() < until;) {
    size_t n = 0;
    if (!c.ReadSome(buf, sizeof buf, &n)) return true;
    got += n;
  }
  return false;
}

// Whether the server's log shows `text` within `ms`.
bool LogShows(const ZdbdProcess& server, const std::string& text, int ms) {
  for (int waited = 0; waited < ms; waited += 100) {
    if (server.Log().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

// Whether the server closed the connection by `until`, checked while the client sends
// `frame` one byte every 100 ms.
bool CutWhileTrickling(RawClient& c, const Bytes& frame, size_t maxBytes) {
  for (size_t i = 0; i < frame.size() && i < maxBytes; ++i) {
    if (!c.Send(Bytes{frame[i]})) return true;
    if (c.ClosedByPeer(100)) return true;
  }
  return false;
}

TEST(ServerHostile, TrickledFrameIsCutAtTheWholeFrameLimit) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--frame-timeout", "1"});
  ASSERT_TRUE(server.running());
  // A byte every 100 ms would complete the 165-byte frame only after 16 s; the server must cut
  // it about a second after its first byte, although every byte came well within a second.
  RawClient c(server.port());
  Bytes frame = RawClient::Frame(0x0001, Opcode("GetVersion"), {U32Slot(0)}, 0xFFFFFFFF);
  EXPECT_TRUE(CutWhileTrickling(c, frame, 60));
  EXPECT_NE(server.Log().find("not whole within 1 s"), std::string::npos);
  // Everyone else is served as ever.
  EXPECT_NE(LoginRaw(server.port()), 0xFFFFFFFFu);
}

TEST(ServerHostile, EndlessStalledAndSlowRequestsBlockNoOneAndNotTheStop) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data",
                     {"--idle-timeout", "2", "--frame-timeout", "2", "--stop-grace", "1"});
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  RawSession owner(port);
  MakePeople(owner, "SHOP", 2);

  // 1. A script that never ends, running past its session's idle expiry.
  RawClient endless(port);
  std::string forever =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
      "SELECT count(*) FROM c;";
  Bytes req = ScriptHead(owner.handle(), forever.size());
  req.insert(req.end(), forever.begin(), forever.end());
  ASSERT_TRUE(endless.Send(req));
  // 2. A client that asks for many rows and reads none of them.
  uint32_t reader = LoginRaw(port);
  ASSERT_EQ(CallOnce(port, 0x8001, Opcode("UseDB"), {TextSlot("SHOP")}, reader).status, 1000);
  ASSERT_EQ(CallOnce(port, 0x8001, Opcode("SelDB"), {TextSlot("SHOP")}, reader).status, 1000);
  RawClient stalled(port);
  std::string many =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < "
      "2000000) SELECT x, " +
      std::string(OnPostgres() ? "repeat('y', 200)" : "printf('%.200c', 'y')") + " FROM c;";
  req = ScriptHead(reader, many.size());
  req.insert(req.end(), many.begin(), many.end());
  ASSERT_TRUE(stalled.Send(req));
  // 3. An upload that keeps coming, slowly, for as long as the server lets it.
  uint32_t uploader = LoginRaw(port);
  RawClient slow(port);
  ASSERT_TRUE(slow.Send(ScriptHead(uploader, 1 << 20)));
  std::atomic<bool> slowCut{false};
  std::thread trickle([&] {
    for (int i = 0; i < 300 && !slowCut; ++i) {  // at most 30 s
      if (!slow.Send(Bytes{' '}) || slow.ClosedByPeer(100)) slowCut = true;
    }
  });

  // Past the owner's idle expiry and the stalled reader's send limit: everybody else is served.
  std::this_thread::sleep_for(4s);
  EXPECT_TRUE(ProbeAnswered(port));
  uint32_t fresh = LoginRaw(port);
  ASSERT_NE(fresh, 0xFFFFFFFFu);
  EXPECT_EQ(CallOnce(port, 0x8001, Opcode("UseDB"), {TextSlot("SHOP")}, fresh).status, 1000);
  EXPECT_TRUE(LogShows(server, "script rows not taken", 20000));
  EXPECT_TRUE(DrainUntilClosed(stalled, 64u << 20, 10000));
  EXPECT_FALSE(slowCut);

  // The stop: the endless script is interrupted after the grace and still answered.
  int status = -1;
  server.Terminate();
  EXPECT_TRUE(server.WaitExit(10000, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadScriptReply(endless, nullptr), 4070);
  trickle.join();
  EXPECT_TRUE(slowCut);
  std::string log = server.Log();
  EXPECT_NE(log.find("interrupting"), std::string::npos);
  EXPECT_NE(log.find("stopped after"), std::string::npos);
}

TEST(ServerHostile, StopLetsTheRunningRequestFinishAndAnswer) {
  TempDir dir;
  std::string data = dir.path() + "/data";
  std::string script =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < "
      "20000) INSERT INTO PEOPLE(NAME) SELECT 'stored' FROM c; "
      "SELECT count(*) FROM PEOPLE;";
  {
    ZdbdProcess server(data, {"--stop-grace", "20"});
    ASSERT_TRUE(server.running());
    RawSession s(server.port());
    MakePeople(s, "SHOP", 1);
    // The request is under way (its upload half sent) when the stop comes; the rest follows.
    RawClient c(server.port());
    ASSERT_TRUE(c.Send(ScriptHead(s.handle(), script.size())));
    ASSERT_TRUE(c.Send(Bytes(script.begin(), script.begin() + 10)));
    std::this_thread::sleep_for(500ms);
    server.Terminate();
    std::this_thread::sleep_for(300ms);
    // Already stopping: no new connection is served.
    EXPECT_EQ(LoginRaw(server.port()), 0xFFFFFFFFu);
    ASSERT_TRUE(c.Send(Bytes(script.begin() + 10, script.end())));
    std::vector<std::string> rows;
    EXPECT_EQ(ReadScriptReply(c, &rows), 1000);
    EXPECT_EQ(rows, std::vector<std::string>{"20001\n"});
    EXPECT_TRUE(c.ClosedByPeer(5000));
    int status = -1;
    EXPECT_TRUE(server.WaitExit(10000, &status));
    EXPECT_EQ(status, 0);
  }
  // What was answered as stored is stored.
  ZdbdProcess again(data);
  RawSession s(again.port());
  ASSERT_EQ(s.Status(Opcode("UseDB"), {TextSlot("SHOP")}), 1000);
  ASSERT_EQ(s.Status(Opcode("SelDB"), {TextSlot("SHOP")}), 1000);
  RawClient c(again.port());
  std::string count = "SELECT count(*) FROM PEOPLE;";
  Bytes req = ScriptHead(s.handle(), count.size());
  req.insert(req.end(), count.begin(), count.end());
  ASSERT_TRUE(c.Send(req));
  std::vector<std::string> rows;
  EXPECT_EQ(ReadScriptReply(c, &rows), 1000);
  EXPECT_EQ(rows, std::vector<std::string>{"20001\n"});
}

TEST(ServerHostile, SilentConnectionsLoseTheirSlotsSoon) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data",
                     {"--first-frame-timeout", "1", "--max-connections", "8"});
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  // A working client on a kept connection outlives the first-request limit.
  RawClient worker(port);
  worker.options = RawClient::kPersistent;
  RawReply login = worker.Call(0x0001, Opcode("Login"), {TextSlot(""), TextSlot("")}, 0xFFFFFFFF);
  ASSERT_EQ(login.status, 1000);
  std::vector<std::unique_ptr<RawClient>> silent;
  for (int i = 0; i < 7; ++i) silent.push_back(std::make_unique<RawClient>(port));
  // Every slot is taken: one more connection takes the slot of the oldest silent one, and is
  // itself held to the first-request limit.
  {
    RawClient extra(port);
    EXPECT_TRUE(extra.ClosedByPeer(3000));
  }
  // The silent ones are closed after the first-request limit, not after the idle limit.
  for (auto& c : silent) EXPECT_TRUE(c->ClosedByPeer(5000));
  EXPECT_NE(server.Log().find("no request for 1 s"), std::string::npos);
  RawReply v = worker.Call(0x0001, Opcode("GetVersion"), {U32Slot(0)}, login.handle);
  ASSERT_TRUE(v.ok);
  EXPECT_EQ(wire::GetU32(v.slots[0].data()), 0x1210u);
  EXPECT_NE(LoginRaw(port), 0xFFFFFFFFu);
}

TEST(ServerHostile, AtTheConnectionCapTheOldestSilentConnectionMakesRoom) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--max-connections", "3"});
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  auto version = [](RawClient& c, uint32_t handle) {
    RawReply v = c.Call(0x0001, Opcode("GetVersion"), {U32Slot(0)}, handle);
    return v.ok ? wire::GetU32(v.slots[0].data()) : 0u;
  };
  RawClient worker(port);
  worker.options = RawClient::kPersistent;
  RawReply login = worker.Call(0x0001, Opcode("Login"), {TextSlot(""), TextSlot("")}, 0xFFFFFFFF);
  ASSERT_EQ(login.status, 1000);
  RawClient first(port), second(port);
  // A newcomer at the cap pushes out the older of the two silent connections and is served.
  RawClient third(port);
  third.options = RawClient::kPersistent;
  EXPECT_EQ(version(third, login.handle), 0x1210u);
  EXPECT_TRUE(first.ClosedByPeer(2000));
  EXPECT_FALSE(second.ClosedByPeer(300));
  EXPECT_TRUE(LogShows(server, "connection limit of 3 reached", 2000));
  // The next one pushes out the other.
  RawClient fourth(port);
  fourth.options = RawClient::kPersistent;
  EXPECT_EQ(version(fourth, login.handle), 0x1210u);
  EXPECT_TRUE(second.ClosedByPeer(2000));
  // Every connection has carried a request now: a newcomer is closed at once, nobody is pushed
  // out, and the working connections go on.
  RawClient fifth(port);
  EXPECT_TRUE(fifth.ClosedByPeer(2000));
  EXPECT_TRUE(LogShows(server, "connection refused: 3 connections open", 2000));
  EXPECT_EQ(version(worker, login.handle), 0x1210u);
  EXPECT_EQ(version(third, login.handle), 0x1210u);
  EXPECT_EQ(version(fourth, login.handle), 0x1210u);
}

TEST(ServerHostile, SessionsAreCappedAndTheCapIsSaid) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--max-sessions", "5"});
  ASSERT_TRUE(server.running());
  uint16_t port = server.port();
  std::vector<uint32_t> handles;
  for (int i = 0; i < 5; ++i) handles.push_back(LoginRaw(port));
  for (uint32_t h : handles) ASSERT_NE(h, 0xFFFFFFFFu);
  RawReply refused =
      CallOnce(port, 0x0001, Opcode("Login"), {TextSlot(""), TextSlot("")}, 0xFFFFFFFF);
  ASSERT_TRUE(refused.ok);
  EXPECT_EQ(refused.status, 4110);
  EXPECT_EQ(refused.handle, 0xFFFFFFFFu);
  RawReply text =
      CallOnce(port, 0x0001, Opcode("GetError"), {U32Slot(4110), Bytes(129)}, 0xFFFFFFFF);
  EXPECT_NE(std::string(reinterpret_cast<const char*>(text.slots[1].data())).find("session limit"),
            std::string::npos);
  EXPECT_NE(server.Log().find("5 sessions live (--max-sessions)"), std::string::npos);
  // The sessions that exist go on; a logout makes room for the next login.
  EXPECT_EQ(CallOnce(port, 0x8001, Opcode("UseDB"), {TextSlot("NONE")}, handles[0]).status, 4011);
  EXPECT_EQ(CallOnce(port, 0x0001, Opcode("Logout"), {}, handles[1]).status, 1000);
  EXPECT_NE(LoginRaw(port), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace zdb::test
