// zdbd against raw frames: the reply shapes every client relies on, and bad input that must be
// answered or dropped without harm to anyone else.
#include <thread>

#include "integration/server_raw.h"
#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/file_block.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

class ServerContract : public ::testing::Test {
 protected:
  TempDir dir;
  ZdbdProcess server{dir.path() + "/data"};
  uint16_t port() const { return server.port(); }
};

TEST_F(ServerContract, LoginVersionErrorTextAndLogout) {
  ASSERT_TRUE(server.running());
  RawReply login =
      CallOnce(port(), 0x0001, Opcode("Login"), {TextSlot(""), TextSlot("")}, 0xFFFFFFFF);
  ASSERT_TRUE(login.ok);
  EXPECT_EQ(login.status, 1000);
  ASSERT_NE(login.handle, 0xFFFFFFFFu);
  uint32_t h = login.handle;
  // A second login gets another, unrelated handle.
  uint32_t h2 = LoginRaw(port());
  EXPECT_NE(h2, h);

  RawReply v = CallOnce(port(), 0x0001, Opcode("GetVersion"), {U32Slot(0)}, h);
  ASSERT_TRUE(v.ok);
  EXPECT_EQ(wire::GetU32(v.slots[0].data()) & 0xFF00, 0x1200u);

  RawReply e = CallOnce(port(), 0x0001, Opcode("GetError"), {U32Slot(4021), Bytes(129, 'x')}, h);
  ASSERT_TRUE(e.ok);
  EXPECT_STREQ(reinterpret_cast<const char*>(e.slots[1].data()), "Table not found");
  EXPECT_EQ(e.slots[1][128], 0);  // zero-filled to the end

  RawReply out = CallOnce(port(), 0x0001, Opcode("Logout"), {}, h);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.status, 1000);
  EXPECT_EQ(out.handle, 0xFFFFFFFFu);
  // The handle is gone: a request carrying it is refused, a second logout too.
  EXPECT_EQ(CallOnce(port(), 0x8001, Opcode("UseDB"), {TextSlot("X")}, h).status, 4003);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("Logout"), {}, h).status, 4003);
  CallOnce(port(), 0x0001, Opcode("Logout"), {}, h2);
}

TEST_F(ServerContract, RepliesHaveTheRequestsShapeEvenForUnknownOpcodes) {
  uint32_t h = LoginRaw(port());
  RawClient c(port());
  std::vector<Bytes> slots = {TextSlot("abc"), Bytes(7, 0x55), Bytes()};
  Bytes frame = RawClient::Frame(0x0001, 250, slots, h);
  ASSERT_TRUE(c.Send(frame));
  Bytes reply(frame.size());
  ASSERT_TRUE(c.ReadExact(reply.data(), reply.size()));
  EXPECT_EQ(wire::GetI32(reply.data() + 157), 4001);
  EXPECT_EQ(wire::GetU32(reply.data() + 153), h);
  EXPECT_EQ(Bytes(reply.begin() + 161, reply.end()), Bytes(frame.begin() + 161, frame.end()));
  // Status-only: exactly four bytes.
  RawReply s = CallOnce(port(), 0x8001, 251, {TextSlot("x")}, h);
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.status, 4001);
  // Slots that do not fit the request are refused as malformed, not misread.
  EXPECT_EQ(CallOnce(port(), 0x8001, Opcode("UseDB"), {}, h).status, 4002);
  EXPECT_EQ(CallOnce(port(), 0x0001, Opcode("GetDB"), {Bytes(8)}, h).status, 4002);
}

TEST_F(ServerContract, PersistentConnectionServesManyRequests) {
  RawClient c(port());
  c.options = RawClient::kPersistent;
  RawReply login = c.Call(0x0001, Opcode("Login"), {TextSlot(""), TextSlot("")}, 0xFFFFFFFF);
  ASSERT_EQ(login.status, 1000);
  for (int i = 0; i < 20; ++i) {
    RawReply v = c.Call(0x0001, Opcode("GetVersion"), {U32Slot(0)}, login.handle);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(wire::GetU32(v.slots[0].data()), 0x1210u);
  }
  EXPECT_EQ(c.Call(0x8001, Opcode("UnUseDB"), {TextSlot("NOPE")}, login.handle).status, 4015);
  RawReply out = c.Call(0x0001, Opcode("Logout"), {}, login.handle);
  EXPECT_EQ(out.status, 1000);
  EXPECT_TRUE(c.ClosedByPeer(2000));  // a logout ends the connection
}

// Sends raw bytes and expects the server to drop the connection without answering.
void ExpectDropped(uint16_t port, const Bytes& bytes) {
  RawClient c(port);
  ASSERT_TRUE(c.Send(bytes));
  EXPECT_TRUE(c.ClosedByPeer(5000));
}

TEST_F(ServerContract, HostileFramesAreDroppedAndOthersCarryOn) {
  RawSession other(port());
  ASSERT_TRUE(other.loggedIn());
  MakePeople(other, "SAFE", 2);

  Bytes good = RawClient::Frame(0x0001, Opcode("GetVersion"), {U32Slot(0)}, other.handle());
  Bytes badMagic = good;
  badMagic[0] = 'X';
  ExpectDropped(port(), badMagic);

  Bytes badLengths = good;  // slot 0 claims 5 bytes while the total says 4
  wire::PutU32(badLengths.data() + wire::kOffLengths, 5);
  ExpectDropped(port(), badLengths);

  Bytes huge =
      RawClient::Frame(0x0001, Opcode("GetVersion"), {}, other.handle());  // a total of 3 GB
  wire::PutU32(huge.data() + wire::kOffLengths, 3000000000u);
  wire::PutU32(huge.data() + wire::kOffTotal, 3000000161u);
  huge[wire::kOffParamCount] = 1;
  ExpectDropped(port(), huge);

  Bytes tooMany = RawClient::Frame(0x0001, Opcode("GetVersion"), {}, other.handle());
  tooMany[wire::kOffParamCount] = 17;
  ExpectDropped(port(), tooMany);
  Bytes negative = RawClient::Frame(0x0001, Opcode("GetVersion"), {}, other.handle());
  negative[wire::kOffParamCount] = 0xFF;
  ExpectDropped(port(), negative);

  {
    // Half a frame, then the client goes away.
    RawClient c(port());
    ASSERT_TRUE(c.Send(Bytes(good.begin(), good.begin() + 100)));
  }
  {
    // A script request whose file is shorter than announced: the connection goes, nothing runs.
    RawClient c(port());
    Bytes script = RawClient::Frame(0xD002, Opcode("SqlRun"),
                                    {TextSlot("s"), TextSlot("o"), U32Slot(0)}, other.handle());
    uint8_t head[wire::kFileBlockHeaderSize];
    wire::EncodeFileBlockHeader(1000, head);
    script.insert(script.end(), head, head + sizeof head);
    std::string sql = "DELETE FROM PEOPLE;";
    script.insert(script.end(), sql.begin(), sql.end());
    ASSERT_TRUE(c.Send(script));
  }
  // The other session is untouched and the server still answers everything.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(other.Read("LAST"), 1000);
  EXPECT_EQ(other.Get("NAME", 20), "Person2             ");
  EXPECT_NE(LoginRaw(port()), 0xFFFFFFFFu);
  EXPECT_NE(server.Log().find("wrong magic"), std::string::npos);
  EXPECT_NE(server.Log().find("over the limit"), std::string::npos);
}

TEST_F(ServerContract, ProbeDiscoveryAndStopOverUdp) {
  Bytes probe = ControlExchange(port(), wire::kCodeProbe);
  ASSERT_GE(probe.size(), 2u);
  EXPECT_EQ(wire::GetU16(probe.data()), wire::kCodeProbe);

  Bytes disc = ControlExchange(port(), wire::kCodeDiscover);
  wire::DiscoveryInfo info;
  ASSERT_TRUE(wire::DecodeDiscoveryReply(disc.data(), disc.size(), info));
  EXPECT_EQ(info.text, "zdbd");
  EXPECT_EQ(info.numbers[0], 0x12);
  EXPECT_EQ(info.numbers[1], port());

  Bytes stop = ControlExchange(port(), wire::kCodeStop);
  ASSERT_GE(stop.size(), 2u);
  EXPECT_EQ(wire::GetU16(stop.data()), wire::kCodeStop);
  int status = -1;
  EXPECT_TRUE(server.WaitExit(5000, &status));
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace zdb::test

namespace zdb::test {
namespace {

TEST(ServerExpiry, IdleSessionsEndAndLetGoOfTheirLocks) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--idle-timeout", "2"});
  ASSERT_TRUE(server.running());
  RawSession keeper(server.port());
  MakePeople(keeper, "SHOP", 1);
  RawSession idler(server.port());
  idler.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(idler.Read("1", "L"), 1000);
  ASSERT_EQ(keeper.Put("NAME", "Blocked"), 4050);
  // The keeper stays busy; the idler says nothing for well over its two seconds.
  for (int i = 0; i < 18; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ASSERT_EQ(keeper.Read("1"), 1000);
  }
  EXPECT_EQ(keeper.Put("NAME", "Free"), 1000);
  EXPECT_EQ(idler.Read("1"), 4003);
  EXPECT_NE(server.Log().find("ended: idle expiry"), std::string::npos);
}

}  // namespace
}  // namespace zdb::test
