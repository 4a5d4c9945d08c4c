// Servers that misbehave without cutting a reply cleanly: a reply dribbled one byte at a time,
// counts and lengths larger than what follows, texts without their zero, a connection reset in
// the middle of a stream or an upload, and UDP answers of every length.
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "session/registry.h"
#include "support/fault_checks.h"
#include "support/raw_peer.h"
#include "support/scripted_peer.h"
#include "support/stream_helpers.h"
#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/field_def.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::GuardedBuffer;
using test::PeerConnection;
using test::Request;
using test::ScriptedPeer;

Bytes FileAnswer(int32_t announced, const Bytes& content, bool withStatus) {
  Bytes b(wire::kFileBlockHeaderSize, 0);
  wire::EncodeFileBlockHeader(announced, b.data());
  b.insert(b.end(), content.begin(), content.end());
  if (withStatus) test::AppendStatus(b, 1000);
  return b;
}

Bytes RecordAnswer() {
  Bytes b;
  test::AppendRecord(b, {'h', 'e', 'l', 'l', 'o'});
  test::AppendRecord(b, {});
  test::AppendRecord(b, {3, 4, 5});
  test::AppendEndMark(b);
  test::AppendStatus(b, 1000);
  return b;
}

TEST(MisbehavingServer, RepliesDribbledOneByteAtATime) {
  test::ScratchDir dir;
  ScriptedPeer peer;
  auto dribble = [](PeerConnection& c, const Bytes& b) { return c.WriteInPieces(b, 1, 0); };
  peer.OnOpcode(Opcode("Login"), [&](const Request& r, PeerConnection& c) {
    if (r.header.kind == 1) return dribble(c, PeerConnection::FullReply(r, 1000, 0x4321));
    test::ReceivedFile script;
    return test::ReadUploadedFile(c, &script) && dribble(c, RecordAnswer());
  });
  peer.OnOpcode(Opcode("GetField"), [&](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    std::fill(reply.begin() + 161 + 5, reply.begin() + 161 + 25, 'v');
    return dribble(c, reply);
  });
  peer.OnOpcode(Opcode("PutField"), [&](const Request&, PeerConnection& c) {
    Bytes w;
    test::AppendStatus(w, 3003);
    return dribble(c, w);
  });
  peer.OnOpcode(Opcode("ExportDB"), [&](const Request&, PeerConnection& c) {
    return dribble(c, FileAnswer(300, test::Pattern(300, 2), true));
  });
  test::ThreadSession thread(peer);
  ASSERT_EQ(ZDB_Init("user", "pw"), 1000);
  EXPECT_EQ(thread->sessionHandle, 0x4321u);
  GuardedBuffer value(20);
  char name[] = "NOTE";
  ASSERT_EQ(ZDB_GetField(name, value.data(), 20), 1000);
  EXPECT_EQ(value.Contents(), Bytes(20, 'v'));
  EXPECT_TRUE(value.GuardIntact());
  EXPECT_EQ(ZDB_PutField("NOTE", "abc", 4), 3003);
  const std::string down = dir.Path("down.bin"), out = dir.Path("out.txt");
  EXPECT_EQ(Z_ExportDB("sales", "full", down.c_str()), 1000);
  EXPECT_EQ(test::ReadLocalFile(down), test::Pattern(300, 2));
  EXPECT_EQ(ZDB_SqlRun("#select 1", out.c_str(), nullptr, 0), 1000);
  EXPECT_EQ(test::ReadLocalFile(out), (Bytes{'h', 'e', 'l', 'l', 'o', 3, 4, 5}));
}

TEST(MisbehavingServer, CountsAndLengthsLargerThanWhatFollows) {
  test::ScratchDir dir;
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("ExportDB"), [](const Request&, PeerConnection& c) {
    c.Write(FileAnswer(100000, test::Pattern(100, 1), false));
    return false;
  });
  peer.OnOpcode(Opcode("Login"), [](const Request& r, PeerConnection& c) {
    if (r.header.kind == 1) return c.ReplyFull(r, 1000, 0x1234);
    test::ReceivedFile script;
    if (!test::ReadUploadedFile(c, &script)) return false;
    Bytes b;
    test::AppendRecord(b, {'a', 'b'});
    uint8_t len[4];
    wire::PutI32(len, 5000);
    b.insert(b.end(), len, len + 4);
    b.insert(b.end(), 10, 'r');
    c.Write(b);
    return false;
  });
  // A reply whose own length and offset fields claim far more than it carries: the library
  // goes by the lengths it sent.
  peer.OnOpcode(Opcode("GetField"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    std::fill(reply.begin() + 21, reply.begin() + 153, 0xFF);
    std::fill(reply.begin() + 161 + 5, reply.begin() + 161 + 25, 'v');
    return c.Write(reply);
  });
  test::ThreadSession thread(peer);
  const std::string down = dir.Path("down.bin"), out = dir.Path("out.txt");
  EXPECT_EQ(Z_ExportDB("sales", "full", down.c_str()), 2001);
  EXPECT_EQ(test::ReadLocalFile(down), test::Pattern(100, 1));  // what came stays
  EXPECT_EQ(ZDB_SqlRun("#select 1", out.c_str(), nullptr, 0), 2001);
  EXPECT_EQ(test::ReadLocalFile(out),
            (Bytes{'a', 'b', 'r', 'r', 'r', 'r', 'r', 'r', 'r', 'r', 'r', 'r'}));
  EXPECT_TRUE(dir.FilesStartingWith("con").empty());
  GuardedBuffer value(20);
  char name[] = "NOTE";
  EXPECT_EQ(ZDB_GetField(name, value.data(), 20), 1000);
  EXPECT_EQ(value.Contents(), Bytes(20, 'v'));
  EXPECT_TRUE(value.GuardIntact());
}

TEST(MisbehavingServer, TextsWithoutTheirZeroAndDefinitionsChangedByTheReply) {
  ScriptedPeer peer;
  peer.OnOpcode(Opcode("GetError"), [](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    std::fill(reply.begin() + 161 + 4, reply.end(), 'z');
    return c.Write(reply);
  });
  Bytes defs(wire::kFieldDefListSize, 0);
  wire::FieldDef d;
  d.name = "A";
  d.type = 'C';
  d.subtype = ' ';
  d.width = 5;
  wire::EncodeFieldDef(d, defs.data());
  d.name = "B";
  d.width = 3;
  wire::EncodeFieldDef(d, defs.data() + wire::kFieldDefSize);
  peer.OnOpcode(Opcode("InfoFields"), [defs](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    std::copy(defs.begin(), defs.end(), reply.begin() + 161 + static_cast<long>(r.slots[0].size()));
    return c.Write(reply);
  });
  // The value area comes back without a single zero, and the definitions with other widths
  // and more fields than were asked for.
  peer.OnOpcode(Opcode("MatGetFields"), [defs](const Request& r, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(r, 1000, 0);
    uint8_t* list = reply.data() + 161;
    for (size_t i = 0; i < wire::kMaxFields; ++i) {
      uint8_t* rec = list + i * wire::kFieldDefSize;
      if (i >= 2) std::memcpy(rec, defs.data(), wire::kFieldDefSize);
      wire::PutU32(rec + 35, i == 0 ? 0 : 0xFFFFFFF0u);
    }
    std::fill(reply.begin() + 161 + wire::kFieldDefListSize, reply.end(), 'x');
    return c.Write(reply);
  });
  test::ThreadSession thread(peer);
  GuardedBuffer text(129);
  EXPECT_EQ(ZDB_GetError(4001, text.text()), 1000);
  EXPECT_TRUE(text.GuardIntact());

  std::vector<char*> values(wire::kMaxFields + 8, nullptr);
  EXPECT_EQ(ZDB_MatGetFields("A,B", values.data()), 1000);
  ASSERT_NE(values[0], nullptr);
  ASSERT_NE(values[1], nullptr);
  EXPECT_STREQ(values[0], "xxxxx");  // each text stops at the room its buffer was given
  EXPECT_STREQ(values[1], "xxx");
  for (size_t i = 2; i < values.size(); ++i) EXPECT_EQ(values[i], nullptr) << i;
  std::free(values[0]);
  std::free(values[1]);
}

// A Session registered for this thread, already logged in, against a raw peer.
struct RawSession {
  explicit RawSession(uint16_t port) {
    auto s = std::make_unique<Session>();
    s->hostName = "127.0.0.1";
    s->serverAddress = {0x7F000001u, port};
    s->sessionHandle = 0x1234;
    RegisterSession(std::move(s));
  }
  ~RawSession() {
    FindSessionForThread()->sessionHandle = wire::kNoSession;  // no logout to a gone peer
    RemoveSessionForThread(platform::CurrentThreadId());
  }
};

TEST(MisbehavingServer, ConnectionResetMidStreamAndMidUpload) {
  // The default action of SIGPIPE ends the process: only sends that never raise it pass.
  std::signal(SIGPIPE, SIG_DFL);
  test::ScratchDir dir;
  const std::string out = dir.Path("out.txt");
  const int fds = test::OpenFdCount();
  {
    // Reset while the client reads a record that has more to come.
    test::RawPeer raw([](int fd) {
      Bytes frame;
      if (!test::RawPeer::ReadFrame(fd, &frame)) return;
      Bytes header(wire::kFileBlockHeaderSize);
      if (!test::RawPeer::ReadExact(fd, header.data(), header.size())) return;
      Bytes script(static_cast<size_t>(wire::DecodeFileBlockLength(header.data())));
      if (!test::RawPeer::ReadExact(fd, script.data(), script.size())) return;
      Bytes b;
      test::AppendRecord(b, {'a', 'b', 'c'});
      uint8_t len[4];
      wire::PutI32(len, 100);
      b.insert(b.end(), len, len + 4);
      b.insert(b.end(), 10, 'r');
      test::RawPeer::Write(fd, b);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      test::RawPeer::Reset(fd);
    });
    RawSession session(raw.port());
    EXPECT_EQ(ZDB_SqlRun("#select 1", out.c_str(), nullptr, 0), 2001);
    char error[64] = {};
    EXPECT_EQ(ZDB_TCPError(error), ECONNRESET);
  }
  // Reset while the client still sends an upload far larger than the socket buffers: before
  // the file, at its start and some way into it. The socket's error stays for the caller.
  const std::string upload = dir.Path("big.bin"), answer = dir.Path("answer.bin");
  test::WriteLocalFile(upload, Bytes(16 << 20, 'u'));
  for (size_t readFirst : {size_t{0}, size_t{64}, size_t{1} << 20, size_t{5} << 20}) {
    SCOPED_TRACE(readFirst);
    test::RawPeer raw([readFirst](int fd) {
      Bytes frame;
      if (!test::RawPeer::ReadFrame(fd, &frame)) return;
      Bytes part(readFirst);
      if (readFirst > 0 && !test::RawPeer::ReadExact(fd, part.data(), part.size())) return;
      test::RawPeer::Reset(fd);
    });
    RawSession session(raw.port());
    EXPECT_EQ(Z_ImportDB("db", "", upload.c_str(), answer.c_str()), 2001);
    char error[64] = {};
    const int32_t e = ZDB_TCPError(error);
    EXPECT_TRUE(e == ECONNRESET || e == EPIPE) << e;
  }
  {
    // The same for a script run's upload.
    const std::string script = dir.Path("big.sql");
    test::WriteLocalFile(script, Bytes(8 << 20, 's'));
    test::RawPeer raw([](int fd) {
      Bytes frame;
      if (test::RawPeer::ReadFrame(fd, &frame)) test::RawPeer::Reset(fd);
    });
    RawSession session(raw.port());
    EXPECT_EQ(ZDB_SqlRun(script.c_str(), out.c_str(), nullptr, 0), 2001);
  }
  {
    // Reset in the middle of a full reply.
    test::RawPeer raw([](int fd) {
      Bytes frame;
      if (!test::RawPeer::ReadFrame(fd, &frame)) return;
      test::RawPeer::Write(fd, Bytes(frame.begin(), frame.begin() + 100));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      test::RawPeer::Reset(fd);
    });
    RawSession session(raw.port());
    GuardedBuffer value(20, 0x5A);
    char name[] = "NOTE";
    EXPECT_EQ(ZDB_GetField(name, value.data(), 20), 2001);
    EXPECT_EQ(value.Contents(), Bytes(20, 0x5A));
  }
  EXPECT_TRUE(dir.FilesStartingWith("con").empty());
  EXPECT_TRUE(dir.FilesStartingWith("scr").empty());
  EXPECT_EQ(test::SettledFdCount(fds), fds);
}

// An upload to a peer that ended its side in order and then went away: the client, still
// sending, takes the end and then a reset, and every send after that is one that raises
// SIGPIPE unless it says otherwise. Returns 0 when the import failed with EPIPE.
int UploadToAPeerThatEndedThenWent() {
  std::signal(SIGPIPE, SIG_DFL);
  test::ScratchDir dir;
  const std::string upload = dir.Path("big.bin"), answer = dir.Path("answer.bin");
  test::WriteLocalFile(upload, Bytes(16 << 20, 'u'));
  int32_t result = 0, error = 0;
  {
    test::RawPeer raw([](int fd) {
      Bytes frame, header(wire::kFileBlockHeaderSize);
      if (!test::RawPeer::ReadFrame(fd, &frame) ||
          !test::RawPeer::ReadExact(fd, header.data(), header.size()))
        return;
      ::shutdown(fd, SHUT_WR);
      // The reset must come after the client has taken the end, or it is a plain reset.
      tcp_info info{};
      socklen_t len = sizeof info;
      for (int i = 0; i < 5000; ++i) {
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 ||
            info.tcpi_state == TCP_FIN_WAIT2)
          break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      test::RawPeer::Reset(fd);
    });
    RawSession session(raw.port());
    result = Z_ImportDB("db", "", upload.c_str(), answer.c_str());
    char text[64] = {};
    error = ZDB_TCPError(text);
  }
  std::fprintf(stderr, "import %d, socket error %d\n", result, error);
  return result == 2001 && error == EPIPE ? 0 : 1;
}

TEST(MisbehavingServer, UploadToAPeerThatEndedRaisesNoSignal) {
  // In a child of its own, so that a SIGPIPE fails this test instead of ending the run.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(UploadToAPeerThatEndedThenWent()), ::testing::ExitedWithCode(0),
              "import 2001, socket error " + std::to_string(EPIPE));
}

class UdpAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocalAddressSource([](std::vector<uint32_t>* out) {
      out->push_back(0x7F000001u);
      return true;
    });
  }
  void TearDown() override {
    platform::SetLocalAddressSource(nullptr);
    RemoveSessionForThread(platform::CurrentThreadId());
  }
};

TEST_F(UdpAnswers, ProbeAndDiscoveryAnswersOfEveryLength) {
  ScriptedPeer peer(true);
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  // Probe answers shorter than their code do not count; the whole one after them does.
  peer.OnUdp([](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    const uint8_t code = d.data.empty() ? 0 : d.data[0];
    Bytes answer(6, 0);
    wire::EncodeControl(code, answer.data());
    for (size_t n = 0; n < 2; ++n)
      p.SendUdp(Bytes(answer.begin(), answer.begin() + static_cast<long>(n)), 0x7F000001u,
                d.fromAddress, d.fromPort);
    if (code == 48)
      p.SendUdp(Bytes(answer.begin(), answer.begin() + 2), 0x7F000001u, d.fromAddress, d.fromPort);
  });
  EXPECT_EQ(ZDB_IsActive(peer.host().c_str()), 2600);

  // Discovery answers of every length up to 200 bytes, their texts without a zero; only the
  // ones of at least 158 bytes count.
  peer.OnUdp([](const ScriptedPeer::Datagram& d, ScriptedPeer& p) {
    if (d.data.size() < 2 || d.data[0] != 16) return;
    Bytes full(200, 'x');
    wire::PutU16(full.data(), 16);
    wire::PutU16(full.data() + 152, 1);
    wire::PutU16(full.data() + 154, 42);
    wire::PutU16(full.data() + 156, 7);
    for (size_t n = 0; n <= full.size(); ++n)
      p.SendUdp(Bytes(full.begin(), full.begin() + static_cast<long>(n)), 0x7F000002u,
                d.fromAddress, d.fromPort);
  });
  constexpr int kMax = 64;
  std::vector<char*> list(kMax + 4, nullptr);
  char guard = 0;
  for (int i = kMax; i < kMax + 4; ++i) list[static_cast<size_t>(i)] = &guard;
  const int32_t found = ZDB_GetServers(list.data(), kMax, peer.port());
  EXPECT_EQ(found, 200 - 158 + 1);
  const std::string expected = std::string(152 - 38, 'x') + ",127.0.0.2,001-00042,07";
  for (int i = 0; i < found; ++i) EXPECT_EQ(std::string(list[static_cast<size_t>(i)]), expected);
  for (int i = kMax; i < kMax + 4; ++i) EXPECT_EQ(list[static_cast<size_t>(i)], &guard);
  // A second call frees what the first handed out.
  peer.OnUdp([](const ScriptedPeer::Datagram&, ScriptedPeer&) {});
  EXPECT_EQ(ZDB_GetServers(list.data(), kMax, peer.port()), 0);
  for (int i = 0; i < kMax; ++i) std::free(list[static_cast<size_t>(i)]);
}

}  // namespace
}  // namespace zdb
