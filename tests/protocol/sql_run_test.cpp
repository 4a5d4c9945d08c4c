#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "support/scripted_peer.h"
#include "support/stream_helpers.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;

// The server side of script runs: answers logins, reads the uploaded script, then lets the test
// write the record stream and status (or break off).
class ScriptServer {
 public:
  explicit ScriptServer(test::ScriptedPeer& peer) {
    peer.OnOpcode(Opcode("Login"), [this](const test::Request& req, test::PeerConnection& c) {
      if (req.header.kind != 2) return c.ReplyFull(req, 1000, 0x1234);
      test::ReceivedFile f;
      const bool ok = test::ReadUploadedFile(c, &f);
      std::function<void(test::PeerConnection&)> respond;
      {
        std::lock_guard<std::mutex> lock(mu_);
        request_ = req;
        upload_ = f;
        ++runs_;
        respond = respond_;
      }
      if (!ok) return false;
      respond(c);
      return !c.closed();
    });
  }
  void Respond(std::function<void(test::PeerConnection&)> r) {
    std::lock_guard<std::mutex> lock(mu_);
    respond_ = std::move(r);
  }
  // Answers with these stream bytes written in one go.
  void RespondWith(const Bytes& stream) {
    Respond([stream](test::PeerConnection& c) { c.Write(stream); });
  }
  test::Request request() {
    std::lock_guard<std::mutex> lock(mu_);
    return request_;
  }
  test::ReceivedFile upload() {
    std::lock_guard<std::mutex> lock(mu_);
    return upload_;
  }
  int runs() {
    std::lock_guard<std::mutex> lock(mu_);
    return runs_;
  }
  // The client may be done before the server thread has counted a run it broke off.
  bool WaitForRuns(int n) {
    for (int i = 0; i < 200 && runs() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return runs() == n;
  }

 private:
  std::mutex mu_;
  test::Request request_;
  test::ReceivedFile upload_;
  int runs_ = 0;
  std::function<void(test::PeerConnection&)> respond_ = [](test::PeerConnection& c) {
    Bytes s;
    test::AppendEndMark(s);
    test::AppendStatus(s, 1000);
    c.Write(s);
  };
};

// A private temporary directory, a peer serving script runs and a Session for the thread.
class SqlRun : public ::testing::Test {
 protected:
  Session& session() { return **thread; }
  void Reconnect(uint16_t connectionOptions) {
    thread.reset();
    thread = std::make_unique<test::ThreadSession>(peer, connectionOptions);
  }

  test::ScratchDir dir;
  test::ScriptedPeer peer;
  ScriptServer server{peer};
  std::unique_ptr<test::ThreadSession> thread = std::make_unique<test::ThreadSession>(peer);
  const std::string out = dir.Path("r.out");
};

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST_F(SqlRun, InlineScriptRequestCarriesConvertedFileAndWritesTheRecords) {
  Bytes stream;
  test::AppendRecord(stream, Text("hello"));
  test::AppendRecord(stream, {});
  test::AppendRecord(stream, test::Pattern(7000, 5));
  test::AppendEndMark(stream);
  test::AppendStatus(stream, 4321);
  server.RespondWith(stream);

  EXPECT_EQ(ZDB_SqlRun("#select &1 from t", out.c_str(), "&1=42", 0x01020304), 4321);

  const test::Request req = server.request();
  EXPECT_EQ(req.header.kindFlags(), 0xD002);
  EXPECT_EQ(req.header.opcode, Opcode("Login"));
  ASSERT_EQ(req.header.paramCount, 3);
  const std::string converted = req.SlotText(0);
  EXPECT_EQ(converted.rfind(dir.Path("con"), 0), 0u) << converted;
  EXPECT_EQ(req.slots[0].size(), converted.size() + 1);
  EXPECT_EQ(req.SlotText(1), out);
  EXPECT_EQ(req.slots[2], (Bytes{0x04, 0x03, 0x02, 0x01}));
  // The reference becomes its value and a zero byte; the ending character follows.
  const std::string sent("#select 42\0 from t\0", 19);
  EXPECT_EQ(server.upload().content, Text(sent));
  const Bytes header = server.upload().header;
  EXPECT_EQ(header[16], 0x10);
  EXPECT_EQ(wire::GetI32(header.data() + 24), 19);

  Bytes expected = Text("hello");
  const Bytes big = test::Pattern(7000, 5);
  expected.insert(expected.end(), big.begin(), big.end());
  EXPECT_EQ(test::ReadLocalFile(out), expected);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"r.out"});

  // Ten characters and no reference: eleven bytes sent, the parameter text never read.
  Bytes markOnly;
  test::AppendEndMark(markOnly);
  test::AppendStatus(markOnly, 1000);
  server.RespondWith(markOnly);
  EXPECT_EQ(ZDB_SqlRun("#drop t   ", out.c_str(), nullptr, 0), 1000);
  EXPECT_EQ(server.upload().content, Text(std::string("#drop t   \0", 11)));
  EXPECT_EQ(test::ReadLocalFile(out), Bytes{});
}

TEST_F(SqlRun, ScriptFileIsSentByteForByte) {
  const std::string script = dir.Path("job.sql");
  Bytes content = Text("update t set a = 1;\n");
  content.push_back(0);
  content.push_back(0xFF);
  test::WriteLocalFile(script, content);
  EXPECT_EQ(ZDB_SqlRun(script.c_str(), out.c_str(), nullptr, -1), 1000);
  EXPECT_EQ(server.upload().content, content);
  EXPECT_EQ(server.request().slots[2], (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(test::LocalFileExists(out));
  EXPECT_TRUE(dir.FilesStartingWith("con").empty());
  EXPECT_TRUE(dir.FilesStartingWith("scr").empty());
}

TEST_F(SqlRun, RecordStreamsHoweverTheyArrive) {
  Bytes stream, expected;
  for (int i = 0; i < 200; ++i) {
    Bytes rec = test::Pattern(static_cast<size_t>(i % 50), static_cast<uint8_t>(i));
    test::AppendRecord(stream, rec);
    expected.insert(expected.end(), rec.begin(), rec.end());
  }
  test::AppendRecord(stream, {0x03, 0x05});  // length 2, not the mark
  test::AppendRecord(stream, {0x04, 0x03});
  const Bytes large = test::Pattern(3073, 9);  // larger than one piece
  test::AppendRecord(stream, large);
  expected.insert(expected.end(), {0x03, 0x05, 0x04, 0x03});
  expected.insert(expected.end(), large.begin(), large.end());
  test::AppendEndMark(stream);
  Bytes withStatus = stream;
  test::AppendStatus(withStatus, 3999);

  // All in one write, the status glued to the mark.
  server.RespondWith(withStatus);
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 3999);
  EXPECT_EQ(test::ReadLocalFile(out), expected);

  // Byte by byte in small segments, so every cut falls somewhere else.
  server.Respond([withStatus](test::PeerConnection& c) { c.WriteInPieces(withStatus, 7, 0); });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 3999);
  EXPECT_EQ(test::ReadLocalFile(out), expected);

  // The mark, then the status after a pause: read from the socket, not from the buffer.
  server.Respond([stream](test::PeerConnection& c) {
    c.Write(stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.ReplyStatus(2999);
  });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2999);
  EXPECT_EQ(test::ReadLocalFile(out), expected);

  // Half the status with the mark, the other half later.
  server.Respond([stream](test::PeerConnection& c) {
    Bytes s = stream;
    s.insert(s.end(), {0x39, 0x30});  // 12345 = 0x3039
    c.Write(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.Write(Bytes{0x00, 0x00});
  });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 12345);
}

TEST_F(SqlRun, StreamsThatBreakOffKeepWhatArrived) {
  const Bytes a = test::Pattern(100, 1);

  // No end mark: the server closes after the records. The stream itself ended, but no status
  // can follow.
  Bytes noMark;
  test::AppendRecord(noMark, a);
  server.Respond([noMark](test::PeerConnection& c) {
    c.Write(noMark);
    c.Close();
  });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2001);
  EXPECT_EQ(test::ReadLocalFile(out), a);

  // Closed inside a record: the bytes of the record that came are in the file.
  Bytes cut;
  test::AppendRecord(cut, a);
  test::AppendRecord(cut, test::Pattern(5000, 2));
  cut.resize(cut.size() - 1000);
  server.Respond([cut](test::PeerConnection& c) {
    c.Write(cut);
    c.Close();
  });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2001);
  Bytes partial = a;
  const Bytes second = test::Pattern(4000, 2);
  partial.insert(partial.end(), second.begin(), second.end());
  EXPECT_EQ(test::ReadLocalFile(out), partial);
  EXPECT_EQ(session().lastSocketError, 0);

  // Closed after the first byte of a two-byte record: that byte is data.
  Bytes oneOfTwo;
  test::AppendRecord(oneOfTwo, a);
  oneOfTwo.insert(oneOfTwo.end(), {0x02, 0x00, 0x00, 0x00, 0x03});
  server.Respond([oneOfTwo](test::PeerConnection& c) {
    c.Write(oneOfTwo);
    c.Close();
  });
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2001);
  Bytes withByte = a;
  withByte.push_back(0x03);
  EXPECT_EQ(test::ReadLocalFile(out), withByte);

  // A negative length ends the stream as a failure, whatever follows.
  Bytes negative;
  test::AppendRecord(negative, a);
  test::AppendStatus(negative, -5);
  test::AppendEndMark(negative);
  test::AppendStatus(negative, 1000);
  server.RespondWith(negative);
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2001);
  EXPECT_EQ(test::ReadLocalFile(out), a);
  EXPECT_TRUE(dir.FilesStartingWith("con").empty());
  EXPECT_TRUE(dir.FilesStartingWith("scr").empty());
}

TEST_F(SqlRun, HeldConnectionCarriesRunAfterRun) {
  Reconnect(3 | 0x10);
  Bytes stream;
  test::AppendRecord(stream, Text("x"));
  test::AppendEndMark(stream);
  test::AppendStatus(stream, 1000);
  server.RespondWith(stream);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, i), 1000);
  uint8_t version[4] = {};
  Request getVersion(wire::Op("GetVersion"), 1);
  getVersion.SetSlot(0, 4, version);
  ASSERT_EQ(session().PrepareRequest(getVersion), kOk);
  EXPECT_EQ(session().Exchange(getVersion), kOk);
  EXPECT_EQ(wire::GetU32(version), 0x1234u);
  EXPECT_EQ(peer.connections(), 1);
  EXPECT_EQ(server.runs(), 3);
}

TEST_F(SqlRun, FailuresLeaveNoTemporaryFileAndSendNothing) {
  // No Session: the files are prepared first, and removed.
  thread.reset();
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2001);
  EXPECT_TRUE(dir.Files().empty());
  Reconnect(3);

  EXPECT_EQ(ZDB_SqlRun(nullptr, out.c_str(), nullptr, 0), 3003);
  EXPECT_EQ(ZDB_SqlRun("#q", nullptr, nullptr, 0), 3003);
  EXPECT_EQ(ZDB_SqlRun(dir.Path("missing.sql").c_str(), out.c_str(), nullptr, 0), 2120);
  EXPECT_EQ(ZDB_SqlRun("#a=&1", out.c_str(), nullptr, 0), 2003);
  EXPECT_EQ(ZDB_SqlRun("#a=&2", out.c_str(), "&1=x", 0), 2003);
  EXPECT_EQ(ZDB_SqlRun("#a=&0", out.c_str(), "&0=x", 0), 2003);
  const std::string tooLong(300, 'v');
  EXPECT_EQ(ZDB_SqlRun("#a=&1", out.c_str(), ("&1=" + tooLong).c_str(), 0), 2003);
  const std::string longPath = dir.Path(std::string(256, 'p'));
  EXPECT_EQ(longPath.size() > 255, true);
  EXPECT_EQ(ZDB_SqlRun("#q", longPath.c_str(), nullptr, 0), 2003);
  EXPECT_EQ(ZDB_SqlRun(longPath.c_str(), out.c_str(), nullptr, 0), 2003);
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_EQ(peer.connections(), 0);
  EXPECT_EQ(server.runs(), 0);

  // An output file that cannot be created fails the exchange after the script went out.
  EXPECT_EQ(ZDB_SqlRun("#q", dir.Path("no/such/dir/r.out").c_str(), nullptr, 0), 2001);
  EXPECT_EQ(session().lastSocketError, test::kErrNoSuchPath);
  EXPECT_TRUE(server.WaitForRuns(1));
  EXPECT_TRUE(dir.Files().empty());

  // No temporary directory to make the files in.
  test::SetEnvironment(test::TempDirectoryVariable(), dir.Path("gone"));
  EXPECT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 2120);
  EXPECT_EQ(server.runs(), 1);
}

TEST_F(SqlRun, TemporaryNamesDifferFromRunToRun) {
  ASSERT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 1000);
  const std::string first = server.request().SlotText(0);
  ASSERT_EQ(ZDB_SqlRun("#q", out.c_str(), nullptr, 0), 1000);
  const std::string second = server.request().SlotText(0);
  EXPECT_NE(first, second);
  // Not a counter or a process id: the part after the prefix is random letters and digits.
  EXPECT_GE(first.size(), dir.Path("con").size() + 6);
}

TEST_F(SqlRun, FullReplyAfterARecordStreamIsReadWhole) {
  // Not a combination any member uses, but what the stream reads ahead must never be lost.
  Bytes stream;
  test::AppendRecord(stream, Text("abc"));
  test::AppendEndMark(stream);
  peer.OnOpcode(Opcode("RebTable"), [stream](const test::Request& req, test::PeerConnection& c) {
    Bytes all = stream;
    Bytes reply = test::PeerConnection::FullReply(req, 1555, 0);
    wire::PutU32(reply.data() + wire::kHeaderSize, 0xCAFEF00D);
    all.insert(all.end(), reply.begin(), reply.end());
    c.Write(all);
    return false;
  });
  uint8_t value[4] = {};
  Request records(wire::kKindOrdinary | wire::kFlagReceiveRecords, Opcode("RebTable"), 1);
  records.SetSlot(0, 4, value);
  records.downloadPath = out.c_str();
  ASSERT_EQ(session().PrepareRequest(records), kOk);
  EXPECT_EQ(session().Exchange(records), kOk);
  EXPECT_EQ(session().lastResult, 1555);
  EXPECT_EQ(wire::GetU32(value), 0xCAFEF00Du);
  EXPECT_EQ(test::ReadLocalFile(out), Text("abc"));
}

}  // namespace
}  // namespace zdb
